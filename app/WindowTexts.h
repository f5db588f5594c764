#pragma once

#include <QString>

struct RunResult;

// The window's Polish texts added below the designed ones: what happened and what to do.

// The damage box: the device has no working firmware, where the run ended (step, write frame,
// reply code or how the wait ended) and that it must be programmed again before use.
QString DamageText(const RunResult& run);
// init.cfg could not be read at start-up: where the program looked and how to get one.
QString MissingInitCfgHint(const QString& initCfgPath, const QString& examplePath);
// A LiveUpdate request failed: the address asked for and the system's reason.
QString NetworkFailureHint(const QString& url, const QString& reason);
// The chosen device type's folder holds no firmware file.
QString NoFirmwareHint(const QString& folderPath);
// init.cfg lists no device type.
QString NoDeviceTypeHint(const QString& initCfgPath);
// What the port box takes, for a text that names no port.
QString PortTextHint(const QString& text);
// The question of POWRÓT during a LiveUpdate run.
inline constexpr const char* kStopLiveUpdateQuestion =
    "Czy przerwać aktualizację oprogramowania?\n"
    "Plik pobierany w tej chwili zostanie zapisany w całości albo pominięty.";
// The question of a close after the erase.
inline constexpr const char* kCloseDuringWriteQuestion =
    "Trwa programowanie: pamięć flash urządzenia jest już skasowana.\n"
    "Zamknięcie programu przerwie zapis i urządzenie zostanie bez działającego "
    "oprogramowania.\nCzy mimo to zamknąć program?";
