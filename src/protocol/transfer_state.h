#pragma once
// State of the current download or upload (filled by the file-transfer work).
namespace perimo {

struct TransferState {};

}  // namespace perimo
