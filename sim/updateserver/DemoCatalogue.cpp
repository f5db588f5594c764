#include "DemoCatalogue.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "Cp1250.h"
#include "LiveUpdate.h"

namespace fs = std::filesystem;

namespace {

void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("Cannot create file \"" + path.string() + "\"");
}

// Lines joined with CR LF, as the vendor publishes its texts.
std::string CrLf(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\r\n";
    return text;
}

}  // namespace

const std::vector<DemoDeviceType>& DemoDeviceTypes() {
    static const std::vector<DemoDeviceType> types = {
        {"Serwer PELTA",
         "pelta_serwer",
         1,
         {"pelta_s_v1_04", "pelta_s_v1_07", "pelta_s_v2_01"},
         "Oprogramowanie serwera PELTA.\n"
         "v1_04 - pierwsza wersja produkcyjna.\n"
         "v1_07 - poprawiona obsługa zegara i wyświetlacza.\n"
         "v2_01 - nowy protokół wymiany danych z kartą, zalecana aktualizacja."},
        {"Serwer ORN (wyszukiwanie portu)",
         "orn_serwer_auto",
         2,
         {"orn_s_v3_10", "orn_s_v3_12"},
         "Oprogramowanie serwera ORN.\n"
         "v3_10 - obsługa nowych czytników.\n"
         "v3_12 - usunięto błąd przy długich transakcjach."},
        {"Karta VESTRAND przez serwer",
         "vestrand_karta",
         3,
         {"vestrand_k_v1_00", "vestrand_k_v1_02"},
         "Oprogramowanie karty VESTRAND, programowanej przez serwer.\n"
         "v1_00 - wersja podstawowa.\n"
         "v1_02 - szybsze uwierzytelnianie, mniejszy pobór prądu."},
        {"Karta w czytniku",
         "karta_czytnik",
         4,
         {"karta_c_v2_00", "karta_c_v2_03", "karta_c_v2_05"},
         "Oprogramowanie karty programowanej w czytniku.\n"
         "v2_00 - wersja podstawowa.\n"
         "v2_03 - poprawki zgodności z czytnikami USB.\n"
         "v2_05 - zalecana: naprawiono zapis licznika."},
        {"Karta przez serwer (wyszukiwanie portu)",
         "karta_auto",
         5,
         {"karta_a_v4_01", "karta_a_v4_02"},
         "Oprogramowanie karty programowanej przez serwer, port wyszukiwany automatycznie.\n"
         "v4_01 - pierwsza wersja.\n"
         "v4_02 - obsługa zmiany hasła użytkownika."},
    };
    return types;
}

std::string DemoInitCfg() {
    std::vector<std::string> lines;
    for (const auto& type : DemoDeviceTypes()) {
        lines.push_back(Utf8ToCp1250(type.display) + ":" + type.folder + " " +
                        std::to_string(type.kind));
    }
    return CrLf(lines);
}

std::string DemoFirmware(std::string_view folder, std::string_view name) {
    // FNV-1a of the names seeds a xorshift generator.
    uint32_t state = 2166136261u;
    for (const char c : std::string(folder) + "/" + std::string(name)) {
        state = (state ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    if (state == 0) state = 1;
    std::string body(kFirmwareFileSize, '\0');
    for (char& byte : body) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<char>(state & 0xFF);
    }
    return body;
}

void WriteDemoCatalogue(const std::string& root) {
    for (const auto& type : DemoDeviceTypes()) {
        const fs::path folder = fs::path(root) / "liveupdate" / type.folder;
        fs::create_directories(folder);
        WriteBytes(folder / "lista.txt", CrLf(type.firmware));
        std::string description = type.description;
        std::string crlf;
        for (const char c : description)
            crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        WriteBytes(folder / "opis.txt", Utf8ToCp1250(crlf + "\r\n"));
        for (const auto& name : type.firmware) {
            WriteBytes(folder / (name + ".bin"), DemoFirmware(type.folder, name));
        }
    }
}
