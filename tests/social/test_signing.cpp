// The installation's signing key on real files (DPAPI and CNG as the system gives them), and
// the envelopes and key records friends exchange.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "social/envelope.h"
#include "social/inbound.h"
#include "social/signing.h"
#include "test_support.h"

TEST(Signing, TheKeyIsMadeOnceKeptProtectedAndSignsWhatOthersVerify) {
    TempDir dir;
    std::wstring path = dir.file(L"signing.key");
    ASSERT_TRUE(signing_key_open(path.c_str()));
    std::string key = signing_public_key_text();
    EXPECT_EQ(key.size(), 86u);
    std::string stored = read_file(path);
    EXPECT_GT(stored.size(), 96u);
    unsigned char point[64];
    ASSERT_EQ(base64url_decode(key.c_str(), (int)key.size(), point, 64), 64);
    EXPECT_EQ(stored.find(std::string((const char*)point, 32)), std::string::npos) << "the file is not the bare key";

    const char text[] = "4321|8421|1765000000000|PING|Ayse#8421|Ayse";
    unsigned char signature[64];
    ASSERT_TRUE(signing_sign(text, (int)sizeof text - 1, signature));
    EXPECT_TRUE(signing_verify(key.c_str(), text, (int)sizeof text - 1, signature));
    EXPECT_FALSE(signing_verify(key.c_str(), text, (int)sizeof text - 2, signature)) << "a changed message";
    signature[10] ^= 1;
    EXPECT_FALSE(signing_verify(key.c_str(), text, (int)sizeof text - 1, signature)) << "a changed signature";
    signature[10] ^= 1;

    // The same key after a restart; another installation's key does not verify ours.
    signing_key_close();
    ASSERT_TRUE(signing_key_open(path.c_str()));
    EXPECT_EQ(signing_public_key_text(), key);
    TempDir other;
    ASSERT_TRUE(signing_key_open(other.file(L"signing.key").c_str()));
    EXPECT_NE(signing_public_key_text(), key);
    EXPECT_FALSE(signing_verify(signing_public_key_text(), text, (int)sizeof text - 1, signature));

    // A kept key that cannot be read is neither used nor replaced: friends pinned it.
    write_file(path, "damaged");
    EXPECT_FALSE(signing_key_open(path.c_str()));
    EXPECT_STREQ(signing_public_key_text(), "");
    EXPECT_FALSE(signing_sign(text, 4, signature));
    EXPECT_EQ(read_file(path), "damaged");
    EXPECT_FALSE(signing_verify("not a key", text, 4, signature));
    signing_key_close();
}

TEST(Signing, Base64urlHasOneSpellingPerValue) {
    unsigned char bytes[] = {0xFB, 0xFF, 0x00, 0x10};
    char text[16];
    EXPECT_EQ(base64url_encode(bytes, 4, text, 16), 6);
    EXPECT_STREQ(text, "-_8AEA");
    unsigned char back[8];
    EXPECT_EQ(base64url_decode(text, 6, back, 8), 4);
    EXPECT_EQ(memcmp(back, bytes, 4), 0);
    EXPECT_EQ(base64url_decode("-_8AEB", 6, back, 8), -1) << "padding bits set";
    EXPECT_EQ(base64url_decode("-_8AE", 5, back, 8), -1) << "no encoding is 5 long";
    EXPECT_EQ(base64url_decode("+/8AEA", 6, back, 8), -1) << "the other alphabet";
    EXPECT_EQ(base64url_decode(text, 6, back, 3), -1) << "no room";
    EXPECT_EQ(base64url_encode(bytes, 4, text, 6), -1);
}

TEST(Envelope, FormatParseAndTheRulesOfTime) {
    unsigned char signature[64];
    for (int i = 0; i < 64; i++) signature[i] = (unsigned char)(i * 7);
    char envelope[512];
    int n = envelope_format("8421", 1765000000123LL, signature, "JAM_POS|Ayse#8421|jam_x|1|5000", envelope, 512);
    ASSERT_GT(n, 0);
    EXPECT_LE(n - (int)strlen("JAM_POS|Ayse#8421|jam_x|1|5000"), (int)ENVELOPE_OVERHEAD_MAX);
    Envelope e;
    ASSERT_TRUE(envelope_parse(envelope, &e));
    EXPECT_STREQ(e.number, "8421");
    EXPECT_EQ(e.time_ms, 1765000000123LL);
    EXPECT_EQ(memcmp(e.signature, signature, 64), 0);
    EXPECT_STREQ(e.message, "JAM_POS|Ayse#8421|jam_x|1|5000");
    EXPECT_EQ(envelope_format("8421", 1, signature, "PING|a#8421|a", envelope, 60), -1) << "too small";

    const char* broken[] = {
        "PING|Ayse#8421|Ayse", "NSIG|", "NSIG|84a1|1|x|PING", "NSIG|8421||sig|PING", "NSIG|8421|12|short|PING",
        "NSIG|1234567890123456|1|AAAA|PING",
    };
    for (const char* b : broken) EXPECT_FALSE(envelope_parse(b, &e)) << b;
    std::string no_message = std::string(envelope, strrchr(envelope, '|') + 1);
    EXPECT_FALSE(envelope_parse(no_message.c_str(), &e));

    char signed_text[256];
    envelope_signed_text("zembrafold/jam/jam_x", "8421", 7, "JAM_POS|a#8421", signed_text, 256);
    EXPECT_STREQ(signed_text, "zembrafold/jam/jam_x|8421|7|JAM_POS|a#8421");

    const long long now = 1765000000000LL;
    EXPECT_EQ(envelope_time_verdict(now, now, 0), ENVELOPE_FRESH);
    EXPECT_EQ(envelope_time_verdict(now - 120000, now, 0), ENVELOPE_FRESH);
    EXPECT_EQ(envelope_time_verdict(now - 120001, now, 0), ENVELOPE_STALE);
    EXPECT_EQ(envelope_time_verdict(now + 120001, now, 0), ENVELOPE_STALE) << "a clock far ahead";
    EXPECT_EQ(envelope_time_verdict(now, now, now), ENVELOPE_REPLAYED);
    EXPECT_EQ(envelope_time_verdict(now - 5, now, now - 4), ENVELOPE_REPLAYED) << "older than the last";
    EXPECT_EQ(envelope_next_time(now, now - 10), now);
    EXPECT_EQ(envelope_next_time(now, now), now + 1);
    EXPECT_EQ(envelope_next_time(now - 5000, now), now + 1) << "a clock set back";
}

// The sender as the trust check and the handlers both read it: one parse, and a tag or name
// longer than any sender writes makes the message nobody's rather than someone else's.
TEST(Envelope, SendersAndKeyRecords) {
    const std::string filler(118, 'x'), long_name(128, 'n');
    struct { std::string message; const wchar_t* sender; } rows[] = {
        {"PING|Ayse#8421|Ayse", L"Ayse#8421"}, {"BYE|Ayse#8421", L"Ayse#8421"},
        {"JAM_STATE|x#12|jam_x|1|0|t|", L"x#12"}, {"REQ|NoNumber|n", L""}, {"PONG", L""}, {"PONG||x", L""},
        {"REQ_ACK|Ayse#8421|Ayse", L"Ayse#8421"},
        {"PONG|Ayse" + filler + "#12345|Sahte|1|text", L""}, {"NAME_CHG|Ayse" + filler + "#12345|Sahte", L""},
        {"JAM_INV|Ayse" + filler + "#12345|Sahte|jam_x", L""}, {"JAM_POS|Ayse" + filler + "#12345|jam_x|0|9", L""},
        {"JAM_JOIN|Ayse#8421|" + long_name + "|jam_x", L""}, {"NAME_CHG|Ayse#8421|" + long_name, L""},
        {"BYE|X|Ayse#8421", L"XAyse#8421"},
    };
    for (const auto& r : rows) {
        InboundMessage m;
        inbound_parse(r.message.c_str(), &m);
        EXPECT_STREQ(inbound_sender(&m), r.sender) << r.message;
    }
    std::string key(86, 'A');
    char tag[32], parsed[88];
    EXPECT_TRUE(key_record_parse(("NKEY|Ayse#8421|" + key).c_str(), tag, 32, parsed, 88));
    EXPECT_STREQ(tag, "Ayse#8421");
    EXPECT_EQ(parsed, key);
    EXPECT_FALSE(key_record_parse(("NKEY||" + key).c_str(), tag, 32, parsed, 88));
    EXPECT_FALSE(key_record_parse(("NKEY|Ayse#8421|" + key.substr(1)).c_str(), tag, 32, parsed, 88));
    EXPECT_FALSE(key_record_parse(("REG|Ayse#8421|" + key).c_str(), tag, 32, parsed, 88));
}
