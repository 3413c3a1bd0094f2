#pragma once

#include <string_view>

namespace packmeter::linuxfs {

// Switches the compression of the regular file `name` in the open ntfs-3g folder `dirFd`.
//
// ntfs-3g ignores the compressed bit on existing files, so the file is rewritten: a copy is made
// in a scratch folder beside it that carries the wanted bit (new files inherit it), checked
// byte for byte against the original, and renamed over it; then the DOS name, times and DOS
// attribute bits are restored. Named streams (user.* attributes), the security descriptor and
// EAs go along. The inode number and object ID change.
//
// Refused (false, file untouched): a file with further hard links (they would keep the old
// data), a reparse point, an encrypted file, and a file any process holds open or mapped (its
// handle would go on reaching the old, orphaned data). A process that opens the file after that
// check and before the rename (a window of one copy and compare) reaches the old data all the
// same; that window cannot be closed from outside the file system. Any failure before the
// rename leaves the original as it was; the rename itself keeps a name on the original
// throughout.
bool RewriteNtfsFile(int dirFd, std::string_view name, bool decompress);

}  // namespace packmeter::linuxfs
