#include "formats/bit_io.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace perimo {

void ByteInput::AttachFile(int fd) {
  fd_ = fd;
  if (!buffer_) buffer_ = std::make_unique<uint8_t[]>(kIoBufferSize);
  pos = end = buffer_.get();
}

void ByteInput::AttachMemory(const uint8_t* data, size_t size) {
  fd_ = -1;
  pos = data;
  end = data + size;
}

bool ByteInput::Fill() {
  if (fd_ < 0 || ioError) return false;
  for (;;) {
    ssize_t got = ::read(fd_, buffer_.get(), kIoBufferSize);
    if (got > 0) {
      pos = buffer_.get();
      end = pos + got;
      return true;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ioError = true;
    return false;
  }
}

size_t ByteInput::Take(uint8_t* out, size_t count) {
  size_t done = 0;
  while (done < count) {
    if (pos == end && !Fill()) break;
    size_t n = static_cast<size_t>(end - pos);
    if (n > count - done) n = count - done;
    std::memcpy(out + done, pos, n);
    pos += n;
    done += n;
  }
  return done;
}

void ByteOutput::AttachFile(int fd) {
  fd_ = fd;
  if (!buffer_) buffer_ = std::make_unique<uint8_t[]>(kIoBufferSize);
  fill_ = 0;
}

void ByteOutput::Put(const uint8_t* data, size_t count) {
  if (fill_ + count <= kIoBufferSize) {
    std::memcpy(buffer_.get() + fill_, data, count);
    fill_ += count;
    return;
  }
  Flush();
  if (count >= kIoBufferSize) {
    WriteAll(data, count);
  } else {
    std::memcpy(buffer_.get(), data, count);
    fill_ = count;
  }
}

bool ByteOutput::Flush() {
  if (fill_ > 0) WriteAll(buffer_.get(), fill_);
  fill_ = 0;
  return !ioError_;
}

void ByteOutput::WriteAll(const uint8_t* data, size_t count) {
  while (count > 0 && !ioError_) {
    ssize_t put = ::write(fd_, data, count);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      ioError_ = true;
      return;
    }
    data += put;
    count -= static_cast<size_t>(put);
  }
}

BitWindow BitReader::Refilled(BitWindow window) {
  if (window.count < fake_) {
    overrun_ = true;
    fake_ = 0;
  }
  while (window.count <= 48) {
    if (input_->end - input_->pos >= 8) return LoadedWord(window);
    uint64_t byte;
    if (input_->pos != input_->end || input_->Fill()) {
      byte = *input_->pos++;
    } else {
      byte = 0xFF;
      fake_ += 8;
    }
    window.bits |= byte << (56 - window.count);
    window.count += 8;
  }
  return window;
}

void BitWriter::Drain() {
  while (count_ >= 8) {
    output_->PutByte(static_cast<uint8_t>(bits_ >> 56));
    bits_ <<= 8;
    count_ -= 8;
    ++produced_;
  }
}

void BitWriter::Finish() {
  Drain();
  if (count_ > 0) {
    output_->PutByte(static_cast<uint8_t>(bits_ >> 56));
    ++produced_;
  }
  bits_ = 0;
  count_ = 0;
}

}  // namespace perimo
