#include "container_codec.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <unordered_set>
#include <vector>

struct BaseContainerAccess {
  static void Append(BaseContainer* bc, LONG id, const GeData& value) {
    bc->m_entries.push_back(BaseContainer::Entry{id, value});
  }
  static BaseContainer* LastContainer(BaseContainer* bc) { return bc->m_entries.back().value.GetContainer(); }
};

namespace host::internal {

namespace {

constexpr uint32_t kFileVersion = 1;
// Smallest encoded entry: id and type of a NIL value.
constexpr size_t kMinEntrySize = 8;

void PutU32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void PutU64(std::string* out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
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

void Encode(const BaseContainer& bc, std::string* out) {
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
        Encode(*value.GetContainer(), out);
        break;
      default:
        break;  // DA_NIL: the type alone
    }
  }
}

class Reader {
 public:
  Reader(const unsigned char* data, size_t size) : m_data(data), m_size(size) {}

  size_t Position() const { return m_pos; }
  size_t Remaining() const { return m_size - m_pos; }
  const std::string& Error() const { return m_error; }

  bool Fail(const std::string& why) {
    if (m_error.empty()) m_error = why + " at byte " + std::to_string(m_pos);
    return false;
  }

  bool U32(uint32_t* v) {
    if (Remaining() < 4) return Fail("data ends inside a value");
    uint32_t r = 0;
    for (int i = 0; i < 4; ++i) r |= static_cast<uint32_t>(m_data[m_pos + i]) << (8 * i);
    m_pos += 4;
    *v = r;
    return true;
  }

  bool U64(uint64_t* v) {
    if (Remaining() < 8) return Fail("data ends inside a value");
    uint64_t r = 0;
    for (int i = 0; i < 8; ++i) r |= static_cast<uint64_t>(m_data[m_pos + i]) << (8 * i);
    m_pos += 8;
    *v = r;
    return true;
  }

  bool I32(LONG* v) {
    uint32_t u = 0;
    if (!U32(&u)) return false;
    *v = static_cast<LONG>(u);
    return true;
  }

  bool RealValue(Real* v) {
    uint64_t bits = 0;
    if (!U64(&bits)) return false;
    std::memcpy(v, &bits, sizeof(*v));
    return true;
  }

  bool VectorValue(Vector* v) { return RealValue(&v->x) && RealValue(&v->y) && RealValue(&v->z); }

  bool Text(std::string* text) {
    uint32_t length = 0;
    if (!U32(&length)) return false;
    if (length > Remaining()) return Fail("text length " + std::to_string(length) + " exceeds the data");
    text->assign(reinterpret_cast<const char*>(m_data + m_pos), length);
    m_pos += length;
    return true;
  }

  bool Container(BaseContainer* bc, int depth) {
    if (depth > kMaxContainerDepth)
      return Fail("containers nested deeper than " + std::to_string(kMaxContainerDepth));
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
  bool Value(LONG type, GeData* value) {
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
      default:
        m_pos -= 4;
        return Fail("unknown value type " + std::to_string(type));
    }
  }

 private:
  const unsigned char* m_data;
  size_t m_size;
  size_t m_pos = 0;
  std::string m_error;
};

std::string Errno(const std::string& what, const std::string& path) {
  return what + " '" + path + "': " + std::strerror(errno);
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

uint32_t GetU32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

uint64_t GetU64(const unsigned char* p) {
  return static_cast<uint64_t>(GetU32(p)) | static_cast<uint64_t>(GetU32(p + 4)) << 32;
}

}  // namespace

std::string EncodeContainer(const BaseContainer& bc) {
  std::string out;
  Encode(bc, &out);
  return out;
}

bool DecodeContainer(const void* data, size_t size, BaseContainer* out, std::string* error) {
  if (!data && size > 0) {
    if (error) *error = "no data";
    return false;
  }
  Reader reader(static_cast<const unsigned char*>(data), size);
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
  static const auto table = [] {
    std::vector<uint32_t> t(256);
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  const auto* p = static_cast<const unsigned char*>(data);
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

bool WriteContainerFile(const std::string& path, const BaseContainer& bc, const char* magic, std::string* error) {
  const std::string payload = EncodeContainer(bc);
  std::string bytes(magic, 8);
  PutU32(&bytes, kFileVersion);
  PutU64(&bytes, payload.size());
  PutU32(&bytes, Crc32(payload.data(), payload.size()));
  bytes += payload;

  const std::string tmp = path + ".tmp";
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (error) *error = Errno("cannot create", tmp);
    return false;
  }
  if (!WriteAll(fd, bytes.data(), bytes.size()) || ::fsync(fd) != 0) {
    if (error) *error = Errno("cannot write", tmp);
    ::close(fd);
    ::unlink(tmp.c_str());
    return false;
  }
  if (::close(fd) != 0) {
    if (error) *error = Errno("cannot write", tmp);
    ::unlink(tmp.c_str());
    return false;
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    if (error) *error = Errno("cannot replace", path);
    ::unlink(tmp.c_str());
    return false;
  }
  // The rename itself reaches the disk with the folder.
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const int dirfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirfd >= 0) {
    ::fsync(dirfd);
    ::close(dirfd);
  }
  return true;
}

bool ReadContainerFile(const std::string& path, BaseContainer* bc, const char* magic, std::string* error,
                       bool* unreadable) {
  if (unreadable) *unreadable = false;
  auto fail = [&](const std::string& why, bool cannotRead) {
    if (error) *error = why;
    if (unreadable) *unreadable = cannotRead;
    return false;
  };

  // Non-blocking so that a pipe in place of the file cannot hang the open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return fail(std::strerror(errno), true);
  struct stat st;
  const bool statted = ::fstat(fd, &st) == 0;
  if (!statted || !S_ISREG(st.st_mode)) {
    const std::string why = statted ? "not a regular file" : std::strerror(errno);
    ::close(fd);
    return fail(why, true);
  }
  std::vector<unsigned char> bytes;
  unsigned char block[65536];
  for (;;) {
    const ssize_t n = ::read(fd, block, sizeof(block));
    if (n < 0) {
      if (errno == EINTR) continue;
      const std::string why = std::strerror(errno);
      ::close(fd);
      return fail(why, true);
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), block, block + n);
  }
  ::close(fd);

  if (bytes.size() < kContainerFileHeaderSize)
    return fail("file is " + std::to_string(bytes.size()) + " bytes, shorter than its header", false);
  if (std::memcmp(bytes.data(), magic, 8) != 0) return fail("wrong file signature", false);
  const uint32_t version = GetU32(bytes.data() + 8);
  if (version != kFileVersion) return fail("unsupported version " + std::to_string(version), false);
  const uint64_t length = GetU64(bytes.data() + 12);
  const size_t held = bytes.size() - kContainerFileHeaderSize;
  if (length != held)
    return fail("length field says " + std::to_string(length) + " bytes, file holds " + std::to_string(held), false);
  const unsigned char* payload = bytes.data() + kContainerFileHeaderSize;
  if (GetU32(bytes.data() + 20) != Crc32(payload, held)) return fail("checksum mismatch", false);
  std::string why;
  if (!DecodeContainer(payload, held, bc, &why)) return fail(why, false);
  return true;
}

}  // namespace host::internal
