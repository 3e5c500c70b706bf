// Against scripts/test's Secret Service, a fresh keyring of its own, and no bus at all.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <utility>

#include <libsecret/secret.h>
#include <unistd.h>

#include "gateway/keychain.h"
#include "support/private_keyring.h"

using namespace std::chrono_literals;
using namespace tessel;

namespace {

const std::string service(GatewayKeychain::service);

bool flagSet(const char* name) {
    const char* value = std::getenv(name);
    return value && std::string(value) == "1";
}

// Tests run in parallel against one keyring; every test has endpoints of its own.
std::string endpointFor(const std::string& test) {
    return "http://127.0.0.1:3425/" + test + "-" + std::to_string(::getpid());
}

const SecretSchema* itemSchema() {
    static SecretSchema* s = secret_schema_new(service.c_str(), SECRET_SCHEMA_DONT_MATCH_NAME,
                                               "service", SECRET_SCHEMA_ATTRIBUTE_STRING, "account",
                                               SECRET_SCHEMA_ATTRIBUTE_STRING, nullptr);
    return s;
}

// The labels of all items for an account, straight from the service.
std::vector<std::string> itemLabels(const std::string& account) {
    GError* error = nullptr;
    GList* items =
        secret_password_search_sync(itemSchema(), SECRET_SEARCH_ALL, nullptr, &error, "service",
                                    service.c_str(), "account", account.c_str(), nullptr);
    EXPECT_EQ(error, nullptr) << (error ? error->message : "");
    std::vector<std::string> labels;
    for (GList* it = items; it; it = it->next) {
        gchar* label = secret_retrievable_get_label(SECRET_RETRIEVABLE(it->data));
        labels.emplace_back(label ? label : "");
        g_free(label);
    }
    g_list_free_full(items, g_object_unref);
    g_clear_error(&error);
    return labels;
}

// scripts/with-keyring's keyring is unlocked with a password: it has a default collection.
class KeychainService : public ::testing::Test {
protected:
    void SetUp() override {
        if (!flagSet("TESSEL_SECRET_SERVICE"))
            GTEST_SKIP() << "no Secret Service (run through scripts/test)";
    }
};

} // namespace

TEST_F(KeychainService, KeysRoundTripExactlyPerEndpointTextAndOnlyAsUtf8) {
    const std::string endpoint = endpointFor("roundtrip");
    const std::string key = "  sk-密钥 with spaces~  ";
    GatewayKeychain::save(key, endpoint);
    EXPECT_EQ(GatewayKeychain::load(endpoint), key);
    // Endpoint texts are compared as written: a trailing "/" is another account.
    EXPECT_EQ(GatewayKeychain::load(endpoint + "/"), std::nullopt);
    GatewayKeychain::save("other", endpoint + "/");
    EXPECT_EQ(GatewayKeychain::load(endpoint), key);

    GatewayKeychain::save("newer", endpoint);
    EXPECT_EQ(GatewayKeychain::load(endpoint), "newer");
    EXPECT_EQ(itemLabels(endpoint),
              std::vector<std::string>{"Tessel Gateway 密钥 (" + endpoint + ")"});

    GatewayKeychain::save("", endpoint);
    EXPECT_EQ(GatewayKeychain::load(endpoint), std::nullopt);
    EXPECT_TRUE(itemLabels(endpoint).empty());
    EXPECT_EQ(GatewayKeychain::load(endpoint + "/"), "other");
    // Deleting what is not there is what was asked for.
    EXPECT_NO_THROW(GatewayKeychain::save("", endpoint));
    GatewayKeychain::save("", endpoint + "/");

    // Data another program stored that is not UTF-8 loads as absent.
    SecretValue* value = secret_value_new("\xff\xfe\x80", 3, "application/octet-stream");
    GError* error = nullptr;
    ASSERT_TRUE(secret_password_store_binary_sync(
        itemSchema(), SECRET_COLLECTION_DEFAULT, "binary", value, nullptr, &error, "service",
        service.c_str(), "account", endpoint.c_str(), nullptr))
        << (error ? error->message : "");
    secret_value_unref(value);
    EXPECT_EQ(GatewayKeychain::load(endpoint), std::nullopt);
    GatewayKeychain::save("", endpoint);
}

// Refused before the store is asked: it would never come back (NUL) or never be sent.
TEST(KeychainKey, KeysTheClientCannotSendAreRefused) {
    const std::string endpoint = endpointFor("unsendable");
    for (const std::string& key :
         {std::string("sk\0x", 4), std::string("sk\nx"), std::string("sk\r"), std::string("sk\tx"),
          std::string("\x1b[31msk"), std::string("sk\a"), std::string("sk\x7f")}) {
        try {
            GatewayKeychain::save(key, endpoint);
            ADD_FAILURE() << "stored a key with a control character";
        } catch (const KeychainError& e) {
            EXPECT_STREQ(e.what(), "Gateway 密钥不能包含换行符、制表符等控制字符。");
            EXPECT_EQ(e.code(), GatewayKeychain::invalidKey);
        }
    }
    EXPECT_EQ(GatewayKeychain::load(endpoint), std::nullopt);
}

// A save waits for the prompt; a closed prompt, a locked keyring, a silent service each say so.
TEST(KeychainPrompt, SavingWaitsForThePromptAndSaysWhatBecameOfTheKey) {
    test::PrivateKeyring keyring;
    ASSERT_TRUE(keyring.ready());
    const std::string endpoint = "http://127.0.0.1:3425";
    using Outcome = std::pair<int, std::string>;
    auto refusal = [&](const std::string& key) {
        try {
            GatewayKeychain::save(key, endpoint);
        } catch (const KeychainError& e) {
            return Outcome(e.code(), e.what());
        }
        return Outcome(0, "saved");
    };

    keyring.dismiss();
    EXPECT_EQ(refusal("k1"),
              Outcome(GatewayKeychain::dismissed, "密钥环的提示已关闭，Gateway 密钥未保存。"));
    EXPECT_FALSE(keyring.expecting());
    keyring.think(6s); // longer than the guard on a call the service leaves unanswered
    keyring.answer("first keyring");
    EXPECT_EQ(refusal("k1"), Outcome(0, "saved"));
    keyring.think(0ms);
    EXPECT_EQ(GatewayKeychain::load(endpoint), "k1");

    // Locked again (as after a restart without a login password): unlocking takes the prompt.
    SecretService* service =
        secret_service_get_sync(SECRET_SERVICE_LOAD_COLLECTIONS, nullptr, nullptr);
    ASSERT_NE(service, nullptr);
    GList* collections = secret_service_get_collections(service);
    secret_service_lock_sync(service, collections, nullptr, nullptr, nullptr);
    g_list_free_full(collections, g_object_unref);
    g_object_unref(service);
    keyring.dismiss();
    EXPECT_EQ(refusal(""),
              Outcome(GatewayKeychain::dismissed, "密钥环的提示已关闭，Gateway 密钥未删除。"));
    keyring.dismiss();
    EXPECT_FALSE(GatewayKeychain::find(endpoint).answered); // locked is not "no key"
    keyring.answer("first keyring");
    EXPECT_EQ(refusal(""), Outcome(0, "saved"));
    const GatewayKeychain::Lookup none = GatewayKeychain::find(endpoint);
    EXPECT_TRUE(none.answered);
    EXPECT_EQ(none.key, std::nullopt);
    EXPECT_FALSE(keyring.expecting());

    // A request that went out unanswered may still be carried out: it says so, and it is.
    GatewayKeychain::save("k2", endpoint);
    keyring.freeze();
    EXPECT_EQ(refusal("k3"),
              Outcome(GatewayKeychain::unanswered, "密钥环未及时响应，密钥可能已保存。"));
    EXPECT_FALSE(GatewayKeychain::find(endpoint).answered);
    keyring.thaw();
    const GatewayKeychain::Lookup later = GatewayKeychain::find(endpoint);
    EXPECT_TRUE(later.answered);
    EXPECT_EQ(later.key, "k3");
}

TEST(KeychainUnavailable, LoadIsAbsentAndSaveFailsClearlyWithoutHanging) {
    if (!flagSet("TESSEL_KEYCHAIN_UNAVAILABLE"))
        GTEST_SKIP() << "runs only in the registration without a session bus";
    EXPECT_EQ(GatewayKeychain::load("http://127.0.0.1:3425"), std::nullopt);
    for (const std::string key : {"sk-1", ""}) {
        try {
            GatewayKeychain::save(key, "http://127.0.0.1:3425");
            ADD_FAILURE() << "save without a Secret Service succeeded";
        } catch (const KeychainError& e) {
            EXPECT_STREQ(e.what(), "无法保存 Gateway 密钥：系统密钥环不可用。");
        }
    }
}
