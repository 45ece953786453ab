#include "Credentials.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QRandomGenerator>

#include <argon2.h>

#include <condition_variable>
#include <mutex>
#include <vector>

namespace {

// Argon2id at the cost OWASP suggests for interactive sign-in: 19 MiB, two passes.
constexpr uint32_t timeCost = 2;
constexpr uint32_t memoryCostKiB = 19 * 1024;
constexpr uint32_t parallelism = 1;
constexpr uint32_t saltLength = 16;
constexpr uint32_t hashLength = 32;

// Each hash holds its memory cost for a tenth of a second: at most this many at once, the others wait.
constexpr int hashesAtOnce = 2;

// A place among the hashes computed at once, held while it lives.
class HashSlot
{
public:
    HashSlot()
    {
        std::unique_lock<std::mutex> lock(mutex());
        freed().wait(lock, [] { return taken() < hashesAtOnce; });
        ++taken();
    }
    ~HashSlot()
    {
        {
            std::lock_guard<std::mutex> lock(mutex());
            --taken();
        }
        freed().notify_one();
    }
    HashSlot(const HashSlot &) = delete;
    HashSlot &operator=(const HashSlot &) = delete;

private:
    static std::mutex &mutex()
    {
        static std::mutex shared;
        return shared;
    }
    static std::condition_variable &freed()
    {
        static std::condition_variable shared;
        return shared;
    }
    static int &taken()
    {
        static int count = 0;
        return count;
    }
};

bool constantTimeEquals(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (size_t i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

} // namespace

namespace Credentials {

std::string accessTokenFor(const std::string &publicKey)
{
    const std::string filled = publicKey + "!~@@*~!" + publicKey + "QWEpoi" + publicKey;
    return QCryptographicHash::hash(QByteArray::fromStdString(filled), QCryptographicHash::Md5)
        .toHex()
        .toStdString();
}

bool signatureMatches(const std::string &publicKey, const std::string &accessToken)
{
    if (publicKey.empty() || publicKey.size() > 64)
        return false;
    return constantTimeEquals(accessTokenFor(publicKey), accessToken);
}

bool hashPassword(const std::string &password, std::string &encoded)
{
    quint32 salt[saltLength / sizeof(quint32)];
    QRandomGenerator::system()->fillRange(salt);
    const HashSlot slot;
    std::vector<char> buffer(
        argon2_encodedlen(timeCost, memoryCostKiB, parallelism, saltLength, hashLength, Argon2_id) + 1);
    const int status = argon2id_hash_encoded(timeCost, memoryCostKiB, parallelism, password.data(),
        password.size(), salt, saltLength, hashLength, buffer.data(), buffer.size());
    if (status != ARGON2_OK)
        return false;
    encoded = buffer.data();
    return true;
}

bool verifyPassword(const std::string &encoded, const std::string &password)
{
    const HashSlot slot;
    return argon2id_verify(encoded.c_str(), password.data(), password.size()) == ARGON2_OK;
}

void verifyNobody(const std::string &password)
{
    static const std::string nobody = [] {
        std::string encoded;
        hashPassword(randomHex(16), encoded);
        return encoded;
    }();
    verifyPassword(nobody, password);
}

std::string randomHex(int bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(static_cast<size_t>(bytes) * 2);
    for (int i = 0; i < bytes; ++i) {
        const quint32 byte = QRandomGenerator::system()->bounded(256u);
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

std::int32_t randomId()
{
    return static_cast<std::int32_t>(QRandomGenerator::system()->bounded(1u, 0x80000000u));
}

std::string randomCode()
{
    return std::to_string(QRandomGenerator::system()->bounded(100000u, 1000000u));
}

} // namespace Credentials
