// Binary form of a BaseContainer, for the settings file and scene files. Host-internal.
//
// Container: int32 id, uint32 entry count, then per entry int32 id, int32 value type
// (DA_*) and the value: LONG int32; LLONG int64; REAL float64; VECTOR 3 x float64;
// MATRIX 12 x float64 (off, v1, v2, v3); STRING and FILENAME uint32 length and bytes;
// CONTAINER a nested container; NIL nothing. Everything little-endian.
//
// File: 8-byte magic, uint32 version (1), uint64 payload length, uint32 CRC-32 of the
// payload, then the payload (one encoded container).
#pragma once

#include <cstddef>
#include <string>

#include "c4d_basecontainer.h"

namespace host::internal {

// Containers nested deeper than this are refused by the decoder.
constexpr int kMaxContainerDepth = 64;
constexpr size_t kContainerFileHeaderSize = 24;

std::string EncodeContainer(const BaseContainer& bc);
// Decodes one container that fills the whole input. On failure *out is unchanged
// and *error (when given) holds a short reason.
bool DecodeContainer(const void* data, size_t size, BaseContainer* out, std::string* error);

// CRC-32 (IEEE, as used by zip and PNG).
uint32_t Crc32(const void* data, size_t size);

// Writes bc to path through "<path>.tmp", synced and renamed over path, so that a
// reader sees the old file or the new one, never a mix. magic is 8 bytes.
bool WriteContainerFile(const std::string& path, const BaseContainer& bc, const char* magic, std::string* error);
// Reads a file written by WriteContainerFile. False with a reason when it cannot be
// read or is damaged (short, wrong magic or version, length or CRC mismatch, bad
// payload); *unreadable tells the first case from the others.
bool ReadContainerFile(const std::string& path, BaseContainer* bc, const char* magic, std::string* error,
                       bool* unreadable = nullptr);

}  // namespace host::internal
