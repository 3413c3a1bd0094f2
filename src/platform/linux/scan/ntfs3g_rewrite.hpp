#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

namespace packmeter::linuxfs {

// Switches the compression of the regular file `name` in the open ntfs-3g folder `dirFd`.
//
// ntfs-3g ignores the compressed bit on existing files, so the file is rewritten: a copy is made
// in a scratch folder beside it that carries the wanted bit (new files inherit it), given the
// original's named streams (user.* attributes), security descriptor, EAs, DOS attribute bits
// and times, checked byte for byte, and then takes the original's place. The DOS 8.3 name
// belongs to a folder entry, so it is given back once the copy has its final name. The inode
// number and object ID change.
//
// The file is never switched when any other process has it open, opens it, writes, truncates,
// links, renames or deletes it while the rewrite runs: then the switch is abandoned, the other
// process's doing kept, and false returned with the reason in `why`. The steps and why they
// are safe are set out at the implementation.
//
// Refused as well (false, file untouched, reason in `why`): further hard links, a reparse
// point, an encrypted file, a named stream too large for the attribute interface, a volume
// where new files are not born compressed, and a sparse file that is to be compressed
// ("sparse files are left as they are on this volume"): ntfs-3g cannot make a file both
// compressed and sparse, and a rewrite would fill its holes when it is decompressed again, so
// it is not switched and the command says so (exit 1).
bool RewriteNtfsFile(int dirFd, std::string_view name, bool decompress, std::string& why);

// Once `*flag` is set (it may be from a signal handler), a rewrite in progress gives up before
// the original is moved aside, leaving it as it was ("abandoned"). Null: no such flag.
void SetRewriteAbandonFlag(const std::atomic<bool>* flag);

// The moments between the steps of a rewrite: the lease taken; the copy written and checked;
// the original moved aside; the copy linked in under the name; the original dropped.
enum class RewriteStep { kGuarded, kCopied, kMovedAside, kLinkedIn, kDropped };
// For tests: `hook` is called at each of these moments, in the rewriting thread; it may hold the
// rewrite there while another process acts. `guarded` tells whether the rewrite's leases are
// still unbroken (no other process has opened the file since). An empty hook removes it.
using RewriteStepHook = std::function<void(RewriteStep step, const std::function<bool()>& guarded)>;
void SetRewriteStepHook(RewriteStepHook hook);

}  // namespace packmeter::linuxfs
