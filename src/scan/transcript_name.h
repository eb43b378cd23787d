// The part of a transcript's file name that names its session.
#pragma once

#include <string_view>

namespace lorebox {

// The last component of `path` (a bare file name is its own last
// component) without its extension: the text after its last "." goes,
// unless that "." is the name's first character. A compressed
// "….jsonl.zst" name loses ".jsonl.zst", so it names the same session as
// the plain file it replaced. The bytes are returned as they are; each
// reader decides what invalid UTF-8 in them becomes.
std::string_view transcript_stem(std::string_view path);

}  // namespace lorebox
