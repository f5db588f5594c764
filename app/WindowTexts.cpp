#include "WindowTexts.h"

#include "Frames.h"
#include "RunResult.h"

namespace {

QString StepInPolish(RunStep step) {
    switch (step) {
        case RunStep::Port:
            return "otwarcie portu";
        case RunStep::Search:
            return "wyszukiwanie portu";
        case RunStep::Greeting:
            return "powitanie urządzenia";
        case RunStep::BootMode:
            return "wejście w tryb Boot";
        case RunStep::ViaServer:
            return "połączenie przez serwer";
        case RunStep::FirmwareNumber:
            return "odczyt numeru oprogramowania";
        case RunStep::Question:
            return "pytanie o kontynuację";
        case RunStep::Load:
            return "wczytanie pliku";
        case RunStep::CardInit:
            return "inicjalizacja karty";
        case RunStep::BitLockOn:
            return "Bit_lock";
        case RunStep::Erase:
            return "kasowanie flasha";
        case RunStep::Write:
            return "zapis flasha";
        case RunStep::Finish:
            return "zakończenie (reset serwera / Bit_lock OFF)";
    }
    return "?";
}

QString EndInPolish(const RunResult& run) {
    if (run.wait != WaitEnd::Byte && run.stop == StopCause::Closing) return "zamknięto program";
    if (run.wait != WaitEnd::Byte && run.stop == StopCause::Stop) return "przerwano przyciskiem STOP";
    switch (run.wait) {
        case WaitEnd::Byte:
            return run.reply ? "kod odpowiedzi " + QString::fromStdString(HexByte(*run.reply))
                             : QString("brak kodu odpowiedzi");
        case WaitEnd::Expired:
            return "urządzenie nie odpowiedziało";
        case WaitEnd::Stopped:
        case WaitEnd::Closed:
            return "port został zamknięty";
        case WaitEnd::Lost:
            return "utracono połączenie z portem";
    }
    return "?";
}

}  // namespace

QString DamageText(const RunResult& run) {
    QString where = "Krok: " + StepInPolish(run.step);
    if (run.step == RunStep::Write && run.frame >= 0)
        where += QString(", ramka %1 z 220 (numerowane od 0)").arg(run.frame);
    where += ", " + EndInPolish(run) + ".";
    return "Urządzenie nie ma teraz działającego oprogramowania: jego pamięć flash jest "
           "skasowana lub zapisana tylko częściowo.\n" +
           where +
           "\nPrzed użyciem urządzenie trzeba zaprogramować ponownie (START z tym samym "
           "plikiem).";
}

QString MissingInitCfgHint(const QString& initCfgPath, const QString& examplePath) {
    return "Program szukał pliku konfiguracji w: " + initCfgPath +
           "\nSkopiuj tam przykładowy plik (" + examplePath +
           ") i uruchom program ponownie. Program uruchomiony z menu (tandel-launcher) robi to "
           "sam w folderze ~/TANDEL.";
}

QString NetworkFailureHint(const QString& url, const QString& reason) {
    return "Nie udało się pobrać: " + url + "\nPowód: " + reason +
           "\nSprawdź połączenie z siecią i uruchom aktualizację ponownie; pliki pobrane "
           "wcześniej zostały zachowane.";
}

QString NoFirmwareHint(const QString& folderPath) {
    return "W folderze " + folderPath +
           " nie ma żadnego pliku oprogramowania (*.bin).\nUzupełnij go przez LiveUpdate "
           "(przycisk na stronie startowej) albo skopiuj pliki do tego folderu.";
}

QString NoDeviceTypeHint(const QString& initCfgPath) {
    return "Plik " + initCfgPath +
           " nie zawiera żadnego typu urządzenia.\nKażdy wiersz opisuje jeden typ, np. "
           "„Serwer PELTA:pelta_serwer 1”; po poprawieniu pliku uruchom program ponownie.";
}

QString PortTextHint(const QString& text) {
    return "„" + text +
           "” nie jest nazwą portu. Pole portu przyjmuje COM1 do COM20 (wielkimi literami) "
           "albo ścieżkę urządzenia zaczynającą się od /dev/, np. /dev/ttyUSB0.";
}
