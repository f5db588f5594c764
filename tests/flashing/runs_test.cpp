#include <gtest/gtest.h>

#include "Bench.h"

namespace {

ServerModel::Options PowerOnServer() {
    ServerModel::Options o;
    o.greetOnPowerOn = true;
    o.greetDelayMs = 300;
    return o;
}

CardModel::Options ReaderCard() {
    CardModel::Options o;
    o.inReader = true;
    return o;
}

const Lines kFlashServerLines{
    "Bit_lock : OK",     "Kasowanie flasha : OK", "Zapis flasha...",
    "Zapis flasha : OK", "Reset serwera : OK",    "SerialPort wolny...",
};
const Lines kViaServerLines{
    "Inicjalizacja karty...", "Inicjalizacja karty : OK", "Bit_lock : OK",
    "Kasowanie flasha : OK",  "Zapis flasha...",          "Zapisu flasha : OK",
    "Bit_lock OFF : OK",      "SerialPort wolny...",
};

Lines Join(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST(UpdateRunKinds, Kind1ServerOnFixedPort) {
    Bench b;
    ServerModel& server = b.AddServer(PowerOnServer());
    b.ports.Attach(1, server);
    b.run.Start(1);
    EXPECT_EQ(b.log,
              Join({"Czekam na dane z serwera...", "BOOT >> v5", "Tryb Boot dla serwera aktywny.",
                    "Aktualnie masz wgrane oprogramowanie nr: 105"},
                   kFlashServerLines));
    EXPECT_EQ(b.progressMax, 3520);
    EXPECT_EQ(b.progress, 3520);
    EXPECT_EQ(server.Boot().Flash(), b.ExpectedFlash());
    EXPECT_TRUE(server.Acknowledged());
    EXPECT_FALSE(b.dane.IsPortOpen());
    EXPECT_FALSE(b.run.Running());
    for (const ReceivedByte& r : server.Received()) {
        EXPECT_EQ(r.line, (LineConfig{9600, 8, 0, 0}));
    }
}

TEST(UpdateRunKinds, Kind2ServerFoundBySearch) {
    Bench b;
    ServerModel& server = b.AddServer({});
    b.ports.SetInUse(2);
    b.ports.Attach(3, server);
    b.run.Start(2);
    EXPECT_EQ(b.log, Join({"COM:1 -", "COM:2 -", "COM:3 +", "Czekam na dane z serwera...",
                           "Reset...", "BOOT >> v5", "Tryb Boot dla serwera aktywny.",
                           "Aktualnie masz wgrane oprogramowanie nr: 105"},
                          kFlashServerLines));
    EXPECT_EQ(b.progress, 3520);
    EXPECT_EQ(server.Boot().Flash(), b.ExpectedFlash());
    EXPECT_EQ(b.dane.PortName(), "\\\\.\\COM3");
}

TEST(UpdateRunKinds, Kind3CardThroughServerOnFixedPort) {
    Bench b;
    CardModel& card = b.Add<CardModel>(CardModel::Options{});
    ServerModel& server = b.AddServer({}, &card);
    b.portBox = "COM2";
    b.ports.Attach(2, server);
    b.run.Start(3);
    EXPECT_EQ(b.log,
              Join({"Inicjalizacja serwera... Czekaj (max 10sek)", "Tryb Via Serwer aktywny."},
                   kViaServerLines));
    EXPECT_EQ(b.progress, 3520);
    EXPECT_EQ(card.Boot().Flash(), b.ExpectedFlash());
    for (const ReceivedByte& r : server.Received()) EXPECT_EQ(r.line.baudRate, 9600u);
    // The first probe goes out 8.6 s after the open.
    const auto& rec = b.ports.Record(2);
    ASSERT_FALSE(rec.written.empty());
    EXPECT_EQ(rec.written[0].value, 0xAA);
    EXPECT_EQ(rec.written[1].value, 0xBB);
    EXPECT_EQ(rec.written[0].tick - rec.settings.front().tick, 8600u);
}

TEST(UpdateRunKinds, Kind5CardThroughServerFoundBySearch) {
    Bench b;
    CardModel& card = b.Add<CardModel>(CardModel::Options{});
    ServerModel::Options o;
    o.probeBaud = 19200;
    ServerModel& server = b.AddServer(o, &card);
    b.ports.Attach(2, server);
    b.run.Start(5);
    EXPECT_EQ(b.log,
              Join({"COM:1 -", "COM:2 +", "Czekam na dane z serwera...", "Reset...",
                    "Inicjalizacja serwera... Czekaj (max 10sek)", "Tryb Via Serwer aktywny."},
                   kViaServerLines));
    EXPECT_EQ(b.progress, 3520);
    EXPECT_EQ(card.Boot().Flash(), b.ExpectedFlash());
    ASSERT_TRUE(server.PassThroughLine());
    EXPECT_EQ(*server.PassThroughLine(), (LineConfig{19200, 8, 0, 0}));
    for (const ReceivedByte& r : server.Received()) EXPECT_EQ(r.line.baudRate, 19200u);
}

TEST(UpdateRunKinds, Kind4CardInReader) {
    Bench b;
    CardModel& card = b.Add<CardModel>(ReaderCard());
    b.ports.Attach(1, card);
    b.run.Start(4);
    EXPECT_EQ(b.log,
              (Lines{"SerialPort załączony : \\\\.\\COM1", "Czekam na ATR...", "BOOT >> v5",
                     "Tryb Boot dla karty aktywny.", "Aktualnie masz wgrane oprogramowanie nr: 105",
                     "Bit_lock : OK", "Kasowanie flasha : OK", "Zapis flasha...",
                     "Zapis flasha : OK", "Bit_lock OFF : OK", "SerialPort wolny..."}));
    EXPECT_EQ(b.questions,
              (Lines{"?|Twoja karta ma wgrane oprogramowanie nr:105.bin czy kontynuować ?"}));
    EXPECT_EQ(b.progress, 3520);
    EXPECT_EQ(card.Boot().Flash(), b.ExpectedFlash());
    for (const ReceivedByte& r : card.Received()) {
        EXPECT_EQ(r.line, (LineConfig{9600, 8, 2, 2}));
    }
}
