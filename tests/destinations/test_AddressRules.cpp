// The address rules: which checks fail and how many messages each gives.
#include "ListFiles.h"

#include "destinations/AddressRules.h"
#include "support/VostrelTest.h"

#include <gtest/gtest.h>

namespace vostrel::test {
namespace {

class AddressRulesTest : public DestinationTest
{
protected:
    std::string doubleByte = S("メールアドレスに2バイト文字が含まれているため追加できません");
    std::string forbidden = S("メールアドレスに使用できない文字が含まれているため、追加できません");
    std::string noAt = S("メールアドレスに「@」がありません");

    using Messages = std::vector<std::string>;
};

TEST_F(AddressRulesTest, PlainAddressesAndTheAtSign)
{
    EXPECT_EQ(ValidateAddress("taro01@example.jp"), Messages{});
    EXPECT_TRUE(IsValidAddress("taro01@example.jp"));
    EXPECT_EQ(ValidateAddress("taro01example.jp"), Messages{noAt});
    EXPECT_FALSE(IsValidAddress("taro01example.jp"));
    // Nothing about the position or the number of "@" is checked.
    EXPECT_EQ(ValidateAddress("@"), Messages{});
    EXPECT_EQ(ValidateAddress("a@@b@"), Messages{});
    EXPECT_EQ(ValidateAddress(""), Messages{noAt});
    // Half-width katakana are single-byte characters.
    EXPECT_EQ(ValidateAddress(S("ｱｲｳ@example.jp")), Messages{});
    EXPECT_EQ(ValidateAddress("a.b-c_d+e!#$%&'*=?^`{|}~@x"), Messages{});
}

TEST_F(AddressRulesTest, OneMessagePerDistinctForbiddenCharacter)
{
    EXPECT_EQ(ValidateAddress("taro yamada@example.jp"), Messages{forbidden});
    EXPECT_EQ(ValidateAddress("taro(x)@example.jp"), (Messages{forbidden, forbidden}));
    EXPECT_EQ(ValidateAddress("a<b>c;d@x"), (Messages{forbidden, forbidden, forbidden}));
    // The same character twice counts once.
    EXPECT_EQ(ValidateAddress("a  b  c@x"), Messages{forbidden});
    // Each of the twelve alone.
    for (char c : std::string("()<>\\,:;[]/ "))
        EXPECT_EQ(ValidateAddress(std::string("ab") + c + "@x"), Messages{forbidden}) << c;
    // All twelve, and no "@".
    Messages all(12, forbidden);
    all.push_back(noAt);
    EXPECT_EQ(ValidateAddress("()<>\\,:;[]/ "), all);
}

TEST_F(AddressRulesTest, ControlCharactersAreRefusedLikeForbiddenOnes)
{
    EXPECT_EQ(ValidateAddress("a\r\nb@x"), (Messages{forbidden, forbidden}));
    EXPECT_EQ(ValidateAddress("a\tb\t@x"), Messages{forbidden});
    EXPECT_EQ(ValidateAddress(std::string("a\0b@x", 5)), Messages{forbidden});
    EXPECT_EQ(ValidateAddress("a\x7f@x"), Messages{forbidden});
    EXPECT_EQ(ValidateAddress("a b\n"), (Messages{forbidden, forbidden, noAt}));
}

TEST_F(AddressRulesTest, DoubleByteCharactersAreFoundByTheirSecondByte)
{
    // "あ" = 82 A0: neither byte is "@" or forbidden.
    EXPECT_EQ(ValidateAddress(S("あ")), (Messages{doubleByte, noAt}));
    EXPECT_EQ(ValidateAddress(S("たろう@example.jp")), Messages{doubleByte});
    // Full-width "＠" is no "@".
    EXPECT_EQ(ValidateAddress(S("taro＠example.jp")), (Messages{doubleByte, noAt}));
    // The search for forbidden characters and "@" is by byte: "ソ" = 83 5C
    // holds a backslash code, "ァ" = 83 40 an "@" code.
    EXPECT_EQ(ValidateAddress(S("ソ@x")), (Messages{doubleByte, forbidden}));
    EXPECT_EQ(ValidateAddress(S("ァ")), Messages{doubleByte});
    // A lead byte without its second byte at the end is no usable character.
    EXPECT_EQ(ValidateAddress("a@x\x82"), Messages{doubleByte});
}

} // namespace
} // namespace vostrel::test
