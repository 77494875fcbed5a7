// Binary forms the host writes: little-endian primitives, BaseContainers, and framed
// files (a header with a checksum around one payload). Host-internal; the settings file
// and scene files use them.
//
// Container: int32 id, uint32 entry count, then per entry int32 id, int32 value type
// (DA_*) and the value: LONG int32; LLONG int64; REAL float64; TIME 2 x float64
// (numerator, denominator); VECTOR 3 x float64; MATRIX 12 x float64 (off, v1, v2, v3);
// STRING and FILENAME uint32 length and bytes; CONTAINER a nested container; ALIASLINK
// int32 reference (-1: none; what a reference means is the file's business); NIL
// nothing. Everything little-endian.
//
// Framed file: 8-byte magic, uint32 version, uint64 payload length, uint32 CRC-32 of the
// payload, then the payload.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "c4d_basecontainer.h"

namespace host::internal {

// Containers nested deeper than this are refused by the decoder.
constexpr int kMaxContainerDepth = 64;
constexpr size_t kFramedHeaderSize = 24;
constexpr size_t kContainerFileHeaderSize = kFramedHeaderSize;

void PutU32(std::string* out, uint32_t v);
void PutU64(std::string* out, uint64_t v);
void PutReal(std::string* out, Real v);
void PutVector(std::string* out, const Vector& v);
void PutText(std::string* out, const std::string& text);

// Maps a link's node number to the reference written for it (-1: none).
typedef std::function<LONG(LLONG serial)> LinkEncoder;
// Appends the encoded container. Without an encoder every link is written as -1.
void EncodeContainer(const BaseContainer& bc, std::string* out, const LinkEncoder* links);
std::string EncodeContainer(const BaseContainer& bc);

// Bounds-checked reading of little-endian values. The first failure is kept with the
// byte position where it happened; every read after it fails too.
class ByteReader {
 public:
  ByteReader(const unsigned char* data, size_t size) : m_data(data), m_size(size) {}

  size_t Position() const { return m_pos; }
  size_t Remaining() const { return m_size - m_pos; }
  bool Failed() const { return !m_error.empty(); }
  const std::string& Error() const { return m_error; }
  // Records why reading failed (the first reason wins) and returns false.
  bool Fail(const std::string& why);

  bool U8(uint8_t* v);
  bool U32(uint32_t* v);
  bool U64(uint64_t* v);
  bool I32(LONG* v);
  bool RealValue(Real* v);
  bool VectorValue(Vector* v);
  bool Text(std::string* text);
  // The next n bytes in place.
  bool Bytes(size_t n, const unsigned char** bytes);
  // A container; a link reference r >= 0 is kept as the node number -(r + 1), for the
  // caller to resolve once every node exists.
  bool Container(BaseContainer* bc, int depth = 1);

 private:
  bool Value(LONG type, GeData* value);
  const unsigned char* m_data;
  size_t m_size;
  size_t m_pos = 0;
  std::string m_error;
};

// Decodes one container that fills the whole input. On failure *out is unchanged
// and *error (when given) holds a short reason.
bool DecodeContainer(const void* data, size_t size, BaseContainer* out, std::string* error);

// CRC-32 (IEEE, as used by zip and PNG).
uint32_t Crc32(const void* data, size_t size);

// Writes a framed file through "<path>.tmp", synced and renamed over path, so that a
// reader sees the old file or the new one, never a mix. magic is 8 bytes.
bool WriteFramedFile(const std::string& path, const char* magic, uint32_t version, const std::string& payload,
                     std::string* error);
// A stretch of a payload, read where it lies.
struct PayloadPiece {
  const void* data;
  size_t size;
};
// The same with the payload made of pieces that follow one another, none of them
// copied on the way to the file.
bool WriteFramedFile(const std::string& path, const char* magic, uint32_t version,
                     const std::vector<PayloadPiece>& payload, std::string* error);
// Reads a framed file whose version lies in [minVersion, maxVersion] into *payload.
// False with a reason when it cannot be read or is damaged (short, wrong magic or
// version, length or CRC mismatch); *unreadable tells the first case from the others.
bool ReadFramedFile(const std::string& path, const char* magic, uint32_t minVersion, uint32_t maxVersion,
                    std::string* payload, uint32_t* version, std::string* error, bool* unreadable = nullptr);

// A framed file of version 1 holding one container.
bool WriteContainerFile(const std::string& path, const BaseContainer& bc, const char* magic, std::string* error);
bool ReadContainerFile(const std::string& path, BaseContainer* bc, const char* magic, std::string* error,
                       bool* unreadable = nullptr);

}  // namespace host::internal
