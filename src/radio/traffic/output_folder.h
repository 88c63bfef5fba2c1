// The folder kdsp-rx --all writes into: made when missing, checked before
// any work so that a run never does the work and then refuses, and the
// record of the transmissions written whole at the end.
#pragma once

#include <string>
#include <vector>

#include "radio/base/failure.h"
#include "radio/traffic/transmission_record.h"

namespace kdsp {

// Makes `dir` when missing. Unless `force`, refuses a record already there
// (the CSV one only when `csv`) and audio files already there. 0, or -1 with `*error` naming the cause and
// the fix.
int prepare_output_folder(const std::string& dir, bool force, bool csv, Failure* failure);

// --keep-pieces DIR: an existing directory, empty unless `force`, so that
// no piece replaces a file. 0, or -1 with `*failure` set.
int check_pieces_folder(const std::string& dir, bool force, Failure* failure);

// True when something (a file, a link, anything) has this name.
bool path_exists(const std::string& path);

// Writes DIR/transmissions.json, DIR/transmissions.csv when `csv`, and
// DIR/skipped.json, each whole or not at all, entries in order of start. 0,
// or -1 with `*failure` set.
int write_transmission_record(const std::string& dir, bool csv, std::vector<TransmissionEntry> entries,
                              const std::vector<SkippedEntry>& skipped, Failure* failure);

// Makes the folders of `relative` (a file's path below `dir`) that are
// missing. 0, or -1 with `*failure` set.
int make_parent_folders(const std::string& dir, const std::string& relative, Failure* failure);

}  // namespace kdsp
