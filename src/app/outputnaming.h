// Where a punched picture is written: beside its source, under the first free
// name of "加工済_<name>.jpg", "加工済2_<name>.jpg" … "加工済255_<name>.jpg".
// An existing entry is never replaced.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

class Picture;

inline constexpr int MaxOutputCandidates = 255;

// Output name number n (1 … MaxOutputCandidates) for a source: the source's
// folder (empty for a bare name, so the current folder), "加工済_" for n = 1 or
// "加工済<n>_" otherwise, then the source's last component with its extension
// (from its last dot) replaced by ".jpg", or ".jpg" appended when it has none.
std::string CandidateName(const std::string& source, int n);

// A candidate is taken when anything bears its name: a file, a link (even a
// dangling one) or a folder. A folder is skipped rather than failed on.
bool CandidateTaken(const std::string& path);

// Writes bytes under the first candidate for source that is free and returns
// that path. A name that another program takes between the existence test and
// the write is skipped too; the file appears complete or not at all.
// Raises ESaveError (SAllNamesTaken) when every candidate is taken, and
// EFCreateError naming the candidate, with the system's reason, when it
// cannot be created or written (a name too long among them); nothing is left
// behind in either case. `taken` is the existence test. Paths of any length
// work; a kill at any moment leaves a complete output or none.
std::string SaveUnderFreeName(const std::string& source, std::span<const uint8_t> bytes,
                              bool (*taken)(const std::string&) = CandidateTaken);

// The hidden temporary's name where a file system needs one (no unnamed
// files): ".加工済-<pid>-<boot id>-XXXXXX.tmp", recording the writing process
// and this boot of the machine.
std::string OutputTempPattern();

// Removes the temporaries in folder that a writer killed during a save left:
// exactly the pattern above, written in this boot, by a process that no
// longer exists. Anything else stays: on a folder shared over the network a
// temporary of another machine or boot may still be in use. SaveUnderFreeName
// calls it once per folder and process.
void RemoveStaleTemporaries(const std::string& folder);

// The picture as a baseline JPEG file at quality 100, in memory. An empty
// picture raises EInvalidGraphic rather than giving an empty file. Safe on any
// thread: a batch encodes ahead on its workers.
std::vector<uint8_t> EncodePunched(const Picture& picture);

// EncodePunched, then SaveUnderFreeName; returns the path written.
std::string SavePunched(const std::string& sourcePath, const Picture& picture);
