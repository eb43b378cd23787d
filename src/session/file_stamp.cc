#include "session/file_stamp.h"

namespace lorebox {

bool same_stamp(const FileStamp& a, const FileStamp& b) {
  return a.device == b.device && a.inode == b.inode && a.mode == b.mode &&
         a.size == b.size && a.modified_seconds == b.modified_seconds &&
         a.modified_nanoseconds == b.modified_nanoseconds &&
         a.changed_seconds == b.changed_seconds &&
         a.changed_nanoseconds == b.changed_nanoseconds;
}

}  // namespace lorebox
