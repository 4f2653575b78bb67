#pragma once

#include <cstdint>
#include <string>

// SHA-1 (FIPS 180-4) of a byte stream or a whole file. One message per Reset: feed with Update and
// HashFile, finish with Final, then read the digest with ReportHash, ReportHashStl or GetHash.
// An object belongs to one thread at a time; it works in place and can be neither copied nor moved.
class CSHA1 {
 public:
  enum REPORT_TYPE : int {
    REPORT_HEX_SPACED = 0,  // "A9 99 3E ..." : 59 characters
    REPORT_DECIMAL = 1,     // "169 153 62 ...": 39 to 79 characters
    REPORT_HEX_PLAIN = 2,   // "A9993E...": 40 characters
  };

  // Room a ReportHash buffer needs for the longest report, terminating zero included.
  static constexpr std::size_t kReportBufferSize = 80;
  static constexpr std::size_t kDigestSize = 20;
  // HashFile reads the file through one buffer of this many bytes per call.
  static constexpr std::size_t kFileChunkSize = 524800;

  CSHA1();
  ~CSHA1();
  CSHA1(const CSHA1&) = delete;
  CSHA1& operator=(const CSHA1&) = delete;

  // Starts a new message: initial chaining value, bit count 0.
  void Reset();
  // Appends `length` bytes. A null `data` feeds nothing. Runs of whole blocks are compressed
  // straight from `data`, with the processor's SHA instructions where it has them.
  void Update(const uint8_t* data, uint32_t length);
  // Appends the whole file at `path`, without Reset or Final: the bytes it held when it was
  // opened. False for a null path, a file that can't be opened or is no regular file (a FIFO or
  // device is refused without blocking; nothing fed), or a read error (the bytes read before it
  // have been fed).
  bool HashFile(const char* path);
  // Pads, writes the digest and wipes the working state; Reset before the next message.
  void Final();

  // Writes the digest as zero-terminated text into `out`, which must hold kReportBufferSize
  // characters. False, with `out` untouched, for a null `out` or an unknown `type`.
  bool ReportHash(char* out, REPORT_TYPE type) const;
  // The same text assigned to `out`; on failure `out` is left untouched.
  bool ReportHashStl(std::string& out, REPORT_TYPE type) const;
  // Copies the kDigestSize digest bytes to `out`; false for a null `out`.
  bool GetHash(uint8_t* out) const;

  // Compresses one 64-byte `block` into the five words at `state`, working in the scratch block.
  void Transform(uint32_t* state, const uint8_t* block);

 private:
  uint32_t _state[5] = {};
  uint32_t _count[2] = {};  // message length in bits, low word first
  uint8_t _buffer[64] = {};
  uint8_t _digest[kDigestSize] = {};  // all zero until the first Final
  uint32_t _scratch[16] = {};
  uint32_t* _block;  // always _scratch
};
