// The picture files the simulated firmware volume carries.
#pragma once

#include <string>

#include "options.h"
#include "preview_run.h"

namespace preview {

// The built-in demo picture of every mode from 1 to 6, replaced by the file
// given with --picture and left out with --no-picture. Returns an empty
// string on success, otherwise which file could not be read and why.
std::string LoadPictureFiles(const Options &options, PictureFiles &files);

// The files given with --second-volume (none by default).
std::string LoadSecondVolumeFiles(const Options &options, PictureFiles &files);

}  // namespace preview
