#pragma once

#include <QString>

// Unpacking of downloaded update files: cabinets and SZDD-compressed files. Every function
// may run on any thread; each call works on its own decompressor.

namespace sonarelle::Cabinet {

// Whether the file at `path` is a cabinet.
bool IsCabinet(const QString& path);

// Extracts every entry of the cabinet at `path` into `folder` (empty: the current folder):
// the entry's stored path below the folder (stored "\" separators become "/"), its own folder
// created when missing, its stored date and time set on the written file. Returns an empty
// text on success, otherwise why it failed.
// Nothing is written when an entry's name could leave the folder (absolute, drive letter,
// "..", control characters) or an existing symlink or file lies on its way; each entry is
// written to a temporary file beside its final name and renamed over it once complete, so
// a failure never leaves a partial file under a final name. A replaced file keeps its mode.
QString Extract(const QString& path, const QString& folder);

}  // namespace sonarelle::Cabinet

namespace sonarelle::Szdd {

// Whether the file at `path` is SZDD-compressed.
bool IsSzdd(const QString& path);

// The name the file expands to: `path` with the last character that SZDD compression replaced
// by "_" restored from the header (upd.ex_ -> upd.exe); `path` itself when the header has none.
// The restored character takes the case of the name's letters, and one that could not stand
// in a file name counts as none, so the name always stays in the compressed file's folder.
QString ExpandedName(const QString& path);

// Expands the SZDD file at `path` into `target`; empty text on success, else why not.
// The output goes to a temporary file beside `target` and is renamed over it only when it
// has the length the header promises: a damaged or short input leaves `target` as it was.
// `target` may be `path` itself.
QString Expand(const QString& path, const QString& target);

}  // namespace sonarelle::Szdd
