#include "container_codec.h"

#include "platform.h"
#include "safe_save.h"


#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <unordered_set>
#include <vector>

#include "scene_internal.h"

namespace host::internal {

namespace {

constexpr uint32_t kContainerFileVersion = 1;
// Smallest encoded entry: id and type of a NIL value.
constexpr size_t kMinEntrySize = 8;

void Encode(const BaseContainer& bc, std::string* out, const LinkEncoder* links) {
  PutU32(out, static_cast<uint32_t>(bc.GetId()));
  const LONG count = bc.GetEntryCount();
  PutU32(out, static_cast<uint32_t>(count));
  for (LONG i = 0; i < count; ++i) {
    const GeData& value = *bc.GetIndexData(i);
    PutU32(out, static_cast<uint32_t>(bc.GetIndexId(i)));
    PutU32(out, static_cast<uint32_t>(value.GetType()));
    switch (value.GetType()) {
      case DA_LONG:
        PutU32(out, static_cast<uint32_t>(value.GetLong()));
        break;
      case DA_LLONG:
        PutU64(out, static_cast<uint64_t>(value.GetLLong()));
        break;
      case DA_REAL:
        PutReal(out, value.GetReal());
        break;
      case DA_TIME:
        PutReal(out, value.GetTime().GetNumerator());
        PutReal(out, value.GetTime().GetDenominator());
        break;
      case DA_VECTOR:
        PutVector(out, value.GetVector());
        break;
      case DA_MATRIX: {
        const Matrix m = value.GetMatrix();
        PutVector(out, m.off);
        PutVector(out, m.v1);
        PutVector(out, m.v2);
        PutVector(out, m.v3);
        break;
      }
      case DA_STRING:
      case DA_FILENAME:
        PutText(out, value.GetString().Std());
        break;
      case DA_CONTAINER:
        Encode(*value.GetContainer(), out, links);
        break;
      case DA_ALIASLINK: {
        const LLONG serial = value.GetLinkSerial();
        PutU32(out, static_cast<uint32_t>((links && serial > 0) ? (*links)(serial) : -1));
        break;
      }
      default:
        break;  // DA_NIL: the type alone
    }
  }
}

uint32_t GetU32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

uint64_t GetU64(const unsigned char* p) {
  return static_cast<uint64_t>(GetU32(p)) | static_cast<uint64_t>(GetU32(p + 4)) << 32;
}

}  // namespace

void PutU32(std::string* out, uint32_t v) {
  const char bytes[4] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                         static_cast<char>((v >> 16) & 0xFF), static_cast<char>((v >> 24) & 0xFF)};
  out->append(bytes, 4);
}

void PutU64(std::string* out, uint64_t v) {
  PutU32(out, static_cast<uint32_t>(v));
  PutU32(out, static_cast<uint32_t>(v >> 32));
}

void PutReal(std::string* out, Real v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof(bits));
  PutU64(out, bits);
}

void PutVector(std::string* out, const Vector& v) {
  PutReal(out, v.x);
  PutReal(out, v.y);
  PutReal(out, v.z);
}

void PutText(std::string* out, const std::string& text) {
  PutU32(out, static_cast<uint32_t>(text.size()));
  out->append(text);
}

bool ByteReader::Fail(const std::string& why) {
  if (m_error.empty()) m_error = why + " at byte " + std::to_string(m_pos);
  return false;
}

bool ByteReader::U8(uint8_t* v) {
  if (Failed()) return false;
  if (Remaining() < 1) return Fail("data ends inside a value");
  *v = m_data[m_pos++];
  return true;
}

bool ByteReader::U32(uint32_t* v) {
  if (Failed()) return false;
  if (Remaining() < 4) return Fail("data ends inside a value");
  *v = GetU32(m_data + m_pos);
  m_pos += 4;
  return true;
}

bool ByteReader::U64(uint64_t* v) {
  if (Failed()) return false;
  if (Remaining() < 8) return Fail("data ends inside a value");
  *v = GetU64(m_data + m_pos);
  m_pos += 8;
  return true;
}

bool ByteReader::I32(LONG* v) {
  uint32_t u = 0;
  if (!U32(&u)) return false;
  *v = static_cast<LONG>(u);
  return true;
}

bool ByteReader::RealValue(Real* v) {
  uint64_t bits = 0;
  if (!U64(&bits)) return false;
  std::memcpy(v, &bits, sizeof(*v));
  return true;
}

bool ByteReader::VectorValue(Vector* v) { return RealValue(&v->x) && RealValue(&v->y) && RealValue(&v->z); }

bool ByteReader::Text(std::string* text) {
  uint32_t length = 0;
  if (!U32(&length)) return false;
  if (length > Remaining()) return Fail("text length " + std::to_string(length) + " exceeds the data");
  text->assign(reinterpret_cast<const char*>(m_data + m_pos), length);
  m_pos += length;
  return true;
}

bool ByteReader::Bytes(size_t n, const unsigned char** bytes) {
  if (Failed()) return false;
  if (n > Remaining()) return Fail(std::to_string(n) + " bytes expected, " + std::to_string(Remaining()) + " left");
  *bytes = m_data + m_pos;
  m_pos += n;
  return true;
}

bool ByteReader::Container(BaseContainer* bc, int depth) {
  if (depth > kMaxContainerDepth) return Fail("containers nested deeper than " + std::to_string(kMaxContainerDepth));
  LONG id = 0;
  uint32_t count = 0;
  if (!I32(&id) || !U32(&count)) return false;
  // The count is checked against the bytes left before anything is built from it.
  if (count > Remaining() / kMinEntrySize) return Fail("entry count " + std::to_string(count) + " exceeds the data");
  bc->SetId(id);
  std::unordered_set<LONG> seen;
  for (uint32_t i = 0; i < count; ++i) {
    LONG entryId = 0, type = 0;
    if (!I32(&entryId) || !I32(&type)) return false;
    if (!seen.insert(entryId).second) {
      m_pos -= 8;
      return Fail("entry " + std::to_string(entryId) + " appears twice");
    }
    GeData value;
    if (!Value(type, &value)) return false;
    BaseContainerAccess::Append(bc, entryId, value);
    if (type == DA_CONTAINER) {
      // Decoded in place: a nested container is built once, not copied per level.
      BaseContainer* sub = BaseContainerAccess::LastContainer(bc);
      if (!Container(sub, depth + 1)) return false;
    }
  }
  return true;
}

// Reads a value of the given type into *value; a container is left empty for the
// caller to fill.
bool ByteReader::Value(LONG type, GeData* value) {
  switch (type) {
    case DA_NIL:
      return true;
    case DA_LONG: {
      LONG v = 0;
      if (!I32(&v)) return false;
      *value = GeData(v);
      return true;
    }
    case DA_LLONG: {
      uint64_t v = 0;
      if (!U64(&v)) return false;
      *value = GeData(static_cast<LLONG>(v));
      return true;
    }
    case DA_REAL: {
      Real v = 0;
      if (!RealValue(&v)) return false;
      *value = GeData(v);
      return true;
    }
    case DA_TIME: {
      Real numerator = 0, denominator = 1;
      if (!RealValue(&numerator) || !RealValue(&denominator)) return false;
      *value = GeData(BaseTime(numerator, denominator));
      return true;
    }
    case DA_VECTOR: {
      Vector v;
      if (!VectorValue(&v)) return false;
      *value = GeData(v);
      return true;
    }
    case DA_MATRIX: {
      Matrix m;
      if (!VectorValue(&m.off) || !VectorValue(&m.v1) || !VectorValue(&m.v2) || !VectorValue(&m.v3)) return false;
      *value = GeData(m);
      return true;
    }
    case DA_STRING:
    case DA_FILENAME: {
      std::string text;
      if (!Text(&text)) return false;
      if (type == DA_STRING)
        *value = GeData(String(std::move(text)));
      else
        *value = GeData(Filename(String(std::move(text))));
      return true;
    }
    case DA_CONTAINER:
      *value = GeData(BaseContainer());
      return true;
    case DA_ALIASLINK: {
      LONG reference = -1;
      if (!I32(&reference)) return false;
      *value = GeData::LinkSerial(reference >= 0 ? -(static_cast<LLONG>(reference) + 1) : 0);
      return true;
    }
    default:
      m_pos -= 4;
      return Fail("unknown value type " + std::to_string(type));
  }
}

namespace {

std::string Errno(const std::string& what, const std::string& path) {
  return what + " '" + path + "': " + std::strerror(errno);
}

}  // namespace

void EncodeContainer(const BaseContainer& bc, std::string* out, const LinkEncoder* links) { Encode(bc, out, links); }

std::string EncodeContainer(const BaseContainer& bc) {
  std::string out;
  Encode(bc, &out, nullptr);
  return out;
}

bool DecodeContainer(const void* data, size_t size, BaseContainer* out, std::string* error) {
  if (!data && size > 0) {
    if (error) *error = "no data";
    return false;
  }
  ByteReader reader(static_cast<const unsigned char*>(data), size);
  BaseContainer result;
  bool ok = reader.Container(&result, 1);
  if (ok && reader.Remaining() > 0) ok = reader.Fail(std::to_string(reader.Remaining()) + " bytes after the end");
  if (!ok) {
    if (error) *error = reader.Error();
    return false;
  }
  if (out) *out = std::move(result);
  return true;
}

uint32_t Crc32(const void* data, size_t size) {
  uLong crc = crc32(0L, Z_NULL, 0);
  const auto* p = static_cast<const Bytef*>(data);
  // zlib takes 32-bit lengths.
  while (size > 0) {
    const uInt n = size > 0x40000000u ? 0x40000000u : static_cast<uInt>(size);
    crc = crc32(crc, p, n);
    p += n;
    size -= n;
  }
  return static_cast<uint32_t>(crc);
}

bool WriteFramedFile(const std::string& path, const char* magic, uint32_t version, const std::string& payload,
                     std::string* error) {
  return WriteFramedFile(path, magic, version, {PayloadPiece{payload.data(), payload.size()}}, error);
}

bool WriteFramedFile(const std::string& path, const char* magic, uint32_t version,
                     const std::vector<PayloadPiece>& payload, std::string* error) {
  uint64_t size = 0;
  for (const PayloadPiece& piece : payload) size += piece.size;
  std::string header(magic, 8);
  PutU32(&header, version);
  PutU64(&header, size);
  PutU32(&header, 0);  // the checksum, written once the payload is

  SafeSave save;
  if (!save.Begin(path, error)) return false;
  // The payload goes out in slices, each summed just before it is written (while it is
  // still in the cache) and on its way to the disk while the next ones are.
  constexpr size_t kSlice = size_t{4} << 20;
  uLong crc = crc32(0L, Z_NULL, 0);
  bool written = save.Write(header.data(), header.size());
  for (const PayloadPiece& piece : payload) {
    const auto* bytes = static_cast<const Bytef*>(piece.data);
    for (size_t at = 0; written && at < piece.size; at += kSlice) {
      const size_t n = std::min(kSlice, piece.size - at);
      crc = crc32(crc, bytes + at, static_cast<uInt>(n));
      written = save.Write(bytes + at, n);
    }
  }
  if (written) {
    header.resize(header.size() - 4);
    PutU32(&header, static_cast<uint32_t>(crc));
    written = save.Rewrite(0, header.data(), header.size());
  }
  if (!written) {
    if (error) *error = Errno("cannot write", path);
    return false;  // the temporary file goes with save
  }
  return save.Commit(error);
}

bool ReadFramedFile(const std::string& path, const char* magic, uint32_t minVersion, uint32_t maxVersion,
                    std::string* payload, uint32_t* version, std::string* error, bool* unreadable) {
  if (unreadable) *unreadable = false;
  auto fail = [&](const std::string& why, bool cannotRead) {
    if (error) *error = why;
    if (unreadable) *unreadable = cannotRead;
    return false;
  };

  // A pipe or device in place of the file is refused without hanging the open.
  std::string refusal;
  const int fd = platform::OpenForReading(path, &refusal);
  if (fd < 0) return fail(refusal, true);
  platform::FileStatus st;
  if (!platform::StatusOf(fd, &st)) {
    refusal = std::strerror(errno);
    platform::Close(fd);
    return fail(refusal, true);
  }
  unsigned char header[kFramedHeaderSize];
  size_t got = 0;
  while (got < sizeof(header)) {
    const int64_t n = platform::Read(fd, header + got, sizeof(header) - got);
    if (n < 0) {
      const std::string why = std::strerror(errno);
      platform::Close(fd);
      return fail(why, true);
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  if (got < sizeof(header)) {
    platform::Close(fd);
    return fail("file is " + std::to_string(got) + " bytes, shorter than its header", false);
  }
  if (std::memcmp(header, magic, 8) != 0) {
    platform::Close(fd);
    return fail("wrong file signature", false);
  }
  const uint32_t fileVersion = GetU32(header + 8);
  if (fileVersion < minVersion || fileVersion > maxVersion) {
    platform::Close(fd);
    return fail("unsupported version " + std::to_string(fileVersion) + " (this build reads " +
                    (minVersion == maxVersion ? std::to_string(maxVersion)
                                              : std::to_string(minVersion) + " to " + std::to_string(maxVersion)) +
                    ")",
                false);
  }
  const uint64_t length = GetU64(header + 12);
  const uint64_t held = static_cast<uint64_t>(st.size) >= kFramedHeaderSize
                            ? static_cast<uint64_t>(st.size) - kFramedHeaderSize
                            : 0;
  if (length != held) {
    platform::Close(fd);
    return fail("length field says " + std::to_string(length) + " bytes, file holds " + std::to_string(held), false);
  }
  // Read at exactly the stated size: one allocation, checked against the file's size
  // first, so a damaged length cannot ask for more memory than the file has.
  std::string bytes;
  try {
    if (length > bytes.max_size()) throw std::bad_alloc();  // more than a 32-bit process can hold
    bytes.resize(static_cast<size_t>(length));
  } catch (const std::bad_alloc&) {
    platform::Close(fd);
    return fail("not enough memory to read " + std::to_string(length) + " bytes", true);
  }
  size_t have = 0;
  while (have < bytes.size()) {
    const int64_t n = platform::Read(fd, &bytes[have], bytes.size() - have);
    if (n < 0) {
      const std::string why = std::strerror(errno);
      platform::Close(fd);
      return fail(why, true);
    }
    if (n == 0) break;
    have += static_cast<size_t>(n);
  }
  platform::Close(fd);
  if (have != bytes.size())
    return fail("file ends after " + std::to_string(have) + " of " + std::to_string(length) + " payload bytes", false);
  if (GetU32(header + 20) != Crc32(bytes.data(), bytes.size())) return fail("checksum mismatch", false);
  if (version) *version = fileVersion;
  if (payload) *payload = std::move(bytes);
  return true;
}

bool WriteContainerFile(const std::string& path, const BaseContainer& bc, const char* magic, std::string* error) {
  return WriteFramedFile(path, magic, kContainerFileVersion, EncodeContainer(bc), error);
}

bool ReadContainerFile(const std::string& path, BaseContainer* bc, const char* magic, std::string* error,
                       bool* unreadable) {
  std::string payload;
  if (!ReadFramedFile(path, magic, kContainerFileVersion, kContainerFileVersion, &payload, nullptr, error, unreadable))
    return false;
  std::string why;
  if (!DecodeContainer(payload.data(), payload.size(), bc, &why)) {
    if (error) *error = why;
    return false;
  }
  return true;
}

}  // namespace host::internal
