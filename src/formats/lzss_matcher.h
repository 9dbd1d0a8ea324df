#pragma once
// The LZSS encoder's window and match finder. Every string that starts in the window is
// chained by its first two bytes (the shortest match); a search walks the chain of the
// current string from the newest, so the longest match (up to the 17-byte look-ahead) is
// found while only token starts are searched and every other position costs one insertion.
#include <cstdint>

namespace perimo {

inline constexpr unsigned kLzssWindowSize = 4096;
inline constexpr unsigned kLzssWindowMask = kLzssWindowSize - 1;
inline constexpr int kLzssLookAhead = 17;
inline constexpr int kLzssPositionBits = 12;
inline constexpr int kLzssLengthBits = 4;
inline constexpr int kLzssMinMatch = 2;

class LzssMatcher {
 public:
  LzssMatcher();

  uint8_t At(unsigned position) const { return window_[position & kLzssWindowMask]; }
  void Set(unsigned position, uint8_t byte);

  // Chains the string at the next position. Positions follow the stream from slot 1, one
  // slot per byte; slot 0 marks the end of a stream and is never chained.
  void InsertNext();
  // The longest match of the string at the next position (not chained yet) among the strings
  // still in reach, with its slot; 0 when there is none.
  int LongestForNext(int* matchPosition) const;

 private:
  // Strings whose slots the look-ahead has not yet overwritten: 4096 slots less the
  // look-ahead and the slot about to be filled.
  static constexpr uint32_t kReach = kLzssWindowSize - kLzssLookAhead - 1;
  // A search gives up after this many candidates; long chains of one pair of bytes with no
  // long match among them are rare, and a cut search only costs a shorter match.
  static constexpr int kMaxCandidates = 1024;

  unsigned Key(unsigned position) const {
    return (unsigned{window_[position]} << 8) | window_[position + 1];
  }

  // The window with its first look-ahead bytes repeated at the end, so a string can be
  // compared without wrapping.
  uint8_t window_[kLzssWindowSize + kLzssLookAhead];
  // Strings are numbered from 1 in stream order, so number n sits in slot n % 4096. The
  // newest number of each two-byte key (0: none), and for each slot the number of the
  // string before it with the same key.
  uint32_t head_[1 << 16];
  uint32_t previous_[kLzssWindowSize];
  uint32_t inserted_ = 0;
};

}  // namespace perimo
