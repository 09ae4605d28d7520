// The record of servers reached encrypted: its fields, a damaged or foreign
// file, a write that fails, and a password change.
#include "SendRunFixture.h"

#include "core/AppState.h"
#include "core/AtomicFile.h"
#include "core/Password.h"
#include "core/Reencrypt.h"
#include "send/ServerTlsRecord.h"

using namespace vostrel;
using namespace vostrel::test;

namespace {

class ServerTlsRecordTest : public VostrelTest
{};

TEST_F(ServerTlsRecordTest, EachServerIsHeldOnceByItsLowerCaseHostAndPort)
{
    {
        ServerTlsRecord record;
        record.Remember("SMTP.Example.JP", 587, TlsUpgrade::StartTls);
        record.Remember("pop.example.jp", 110, TlsUpgrade::Stls);
        record.Remember("smtp.example.jp", 587, TlsUpgrade::ImplicitTls); // the latest way counts
        record.Remember("smtp.example.jp", 465, TlsUpgrade::ImplicitTls);
    }
    EXPECT_EQ(RawFields(ServerTlsRecordPath()),
              (std::vector<std::string>{"VOSTREL-TLS-SERVERS 1", "3", "pop.example.jp", "110",
                                        "STLS", "smtp.example.jp", "465", "TLS", "smtp.example.jp",
                                        "587", "TLS"}));
    ServerTlsRecord again;
    EXPECT_EQ(again.Known("smtp.EXAMPLE.jp", 587), TlsUpgrade::ImplicitTls);
    EXPECT_EQ(again.Known("pop.example.jp", 110), TlsUpgrade::Stls);
    EXPECT_EQ(again.Known("pop.example.jp", 995), std::nullopt);
    EXPECT_EQ(again.Known("other.example.jp", 587), std::nullopt);
}

TEST_F(ServerTlsRecordTest, ADamagedOrForeignRecordCountsAsEmptyAndTheNextNoteReplacesIt)
{
    const std::vector<std::string> damaged{std::string("\x05\x00\x00\x00"
                                                       "abc",
                                                       7), // a field cut short
                                           std::string(16, '\x01')};
    for (const std::string &bytes : damaged) {
        WriteBytes(ServerTlsRecordPath(), bytes);
        ServerTlsRecord record;
        EXPECT_EQ(record.Known("smtp.example.jp", 587), std::nullopt);
        record.Remember("smtp.example.jp", 587, TlsUpgrade::StartTls);
        EXPECT_EQ(RawFields(ServerTlsRecordPath()).size(), 5u);
    }
    // Written under another key: the fields decipher to nothing sensible.
    ServerTlsRecord("OtherKey9").Remember("smtp.example.jp", 25, TlsUpgrade::StartTls);
    EXPECT_EQ(ServerTlsRecord().Known("smtp.example.jp", 25), std::nullopt);
}

TEST_F(ServerTlsRecordTest, ANoteThatCannotBeWrittenIsKeptAndWrittenWithTheNextOne)
{
    ServerTlsRecord record;
    AtomicFile::SetFaultInjector([](const std::filesystem::path &) { return false; });
    record.Remember("a.example.jp", 587, TlsUpgrade::StartTls);
    AtomicFile::SetFaultInjector(nullptr);
    EXPECT_TRUE(record.WritePending());
    EXPECT_EQ(record.Known("a.example.jp", 587), TlsUpgrade::StartTls);
    EXPECT_FALSE(std::filesystem::exists(ServerTlsRecordPath()));

    record.Remember("a.example.jp", 587, TlsUpgrade::StartTls); // the same again still writes
    EXPECT_FALSE(record.WritePending());
    EXPECT_EQ(ServerTlsRecord().Known("a.example.jp", 587), TlsUpgrade::StartTls);
}

TEST_F(ServerTlsRecordTest, APasswordChangeRewritesTheRecordUnderTheNewKey)
{
    RegisterSendersRekeyKinds();
    WriteConfig(std::string(DefaultKey));
    ServerTlsRecord().Remember("smtp.example.jp", 587, TlsUpgrade::StartTls);
    ReencryptAll(std::string(DefaultKey), "NewPass2");
    EXPECT_EQ(ServerTlsRecord("NewPass2").Known("smtp.example.jp", 587), TlsUpgrade::StartTls);
    EXPECT_EQ(RawFields(ServerTlsRecordPath(), "NewPass2")[0], "VOSTREL-TLS-SERVERS 1");
}

} // namespace
