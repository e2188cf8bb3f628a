#include "server/password.h"

#include <sodium.h>

namespace srv {

int password_init() {
    return sodium_init() < 0 ? -1 : 0;
}

int password_hash(const std::string& password, bool fast, std::string* out) {
    char hash[crypto_pwhash_STRBYTES];
    unsigned long long ops = fast ? crypto_pwhash_OPSLIMIT_MIN : crypto_pwhash_OPSLIMIT_INTERACTIVE;
    size_t mem = fast ? crypto_pwhash_MEMLIMIT_MIN : crypto_pwhash_MEMLIMIT_INTERACTIVE;
    if (crypto_pwhash_str_alg(hash, password.data(), password.size(), ops, mem,
                              crypto_pwhash_ALG_ARGON2ID13) != 0)
        return -1;
    out->assign(hash);
    return 0;
}

bool password_verify(const std::string& stored_hash, const std::string& password) {
    if (stored_hash.empty() || stored_hash.size() >= crypto_pwhash_STRBYTES) return false;
    return crypto_pwhash_str_verify(stored_hash.c_str(), password.data(), password.size()) == 0;
}

}  // namespace srv
