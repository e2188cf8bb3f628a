// Argon2id password hashes (libsodium). The hash string carries its own parameters, so hashes made
// with the fast test limits still verify after a restart without them.
#pragma once
#include <string>

namespace srv {

// Initialises libsodium once. Returns 0 or -1.
int password_init();

// Hashes password into out. fast selects the minimum limits (tests, benchmarks, demo data).
// Returns 0 or -1 (out of memory).
int password_hash(const std::string& password, bool fast, std::string* out);

// Returns true when password matches the stored hash.
bool password_verify(const std::string& stored_hash, const std::string& password);

}  // namespace srv
