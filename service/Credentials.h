#pragma once

#include <cstdint>
#include <string>

// Secrets of the service: request signatures, password hashes and every random value a client must
// not be able to guess (ids, user hashes, result tokens, recovery codes).
namespace Credentials {

// True when accessToken is the MD5 hex of the token template filled with publicKey.
bool signatureMatches(const std::string &publicKey, const std::string &accessToken);
std::string accessTokenFor(const std::string &publicKey);

// Argon2id with a random salt, in its encoded form ("$argon2id$v=19$...").
bool hashPassword(const std::string &password, std::string &encoded);
bool verifyPassword(const std::string &encoded, const std::string &password);
// Costs what verifyPassword does, for an account that does not exist: the time tells nothing.
void verifyNobody(const std::string &password);

std::string randomHex(int bytes);
// Uniform in 1 .. 2^31 - 1.
std::int32_t randomId();
// Uniform in 100000 .. 999999.
std::string randomCode();

} // namespace Credentials
