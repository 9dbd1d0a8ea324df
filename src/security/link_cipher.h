#pragma once
// The AES link key of the current connection (filled by the security work).
namespace perimo {

class LinkCipher {
 public:
};

}  // namespace perimo
