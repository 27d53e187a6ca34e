#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "package/ssh_signature.h"

// Key handling shared by the signature and the allowed_signers readers.
namespace morlane::package::keys {

inline constexpr std::string_view kEd25519 = "ssh-ed25519";
inline constexpr std::string_view kEcdsaP256 = "ecdsa-sha2-nistp256";

// A key blob of a type this tool verifies, with each field's size checked.
std::optional<SshPublicKey> FromBlob(std::span<const uint8_t> blob, std::string* why);

enum class KeyRead { Taken, OtherType, Malformed };
// The key part of a .pub line. OtherType is a well-formed key of a type never verified here
// (RSA, a certificate): key then holds its type and blob, which no verified signature's
// key can equal.
KeyRead FromText(std::string_view type, std::string_view base64, SshPublicKey* key,
                 std::string* why);

// Splits off the first whitespace-separated word of text (leading blanks skipped).
std::string_view NextWord(std::string_view* text);

// Starts libgcrypt once for the process, whichever thread comes first.
void EnsureCrypto();

}  // namespace morlane::package::keys
