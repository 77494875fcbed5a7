// Scene files: whole documents in the host's own binary format (docs/scene-format.md).
// Host-internal; the shell reaches them through host_control.h.
#pragma once

#include <cstdint>
#include <string>

class BaseDocument;

namespace host::internal {

// Files are written at kSceneVersion; every version from kSceneFirstVersion on is read.
// Version 2 added tracks (TRAK) and the objects' deform mode.
constexpr uint32_t kSceneVersion = 2;
constexpr uint32_t kSceneFirstVersion = 1;
extern const char kSceneMagic[8];

// The payload of a scene file for doc (everything after the framed header).
std::string EncodeScene(const BaseDocument* doc);
// A new document from a payload of the given version; null with the reason in *error when the payload is
// damaged or memory ran out (*outOfMemory tells which). Nothing of a failed decode is
// left behind.
BaseDocument* DecodeScene(const std::string& payload, uint32_t version, std::string* error,
                          bool* outOfMemory = nullptr);

}  // namespace host::internal
