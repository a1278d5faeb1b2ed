// A plain-text description of an uninstall data block, one item a line:
//   text TEXT                 the next message text (numbered from 0 in order)
//   file FLAGS FOLDER|NAME    FLAGS: - or a comma list of shared, font, comserver, checkinuse
//   folder LEVELS FOLDER|FILE
//   registry ROOT PATH        ROOT: HKCR, HKCU, HKLM, HKU or a number
//   options FLAGS             - or a comma list of wait, keeptheme
//   program NAME              relative to the install folder
//   document TARGET
// Blank lines and lines starting with # are ignored.
#ifndef VANISH_DESCRIBE_H
#define VANISH_DESCRIBE_H

#include "pack.h"

namespace pack {
bool ParseDescription(const std::string &text, Block *block, std::string *error);
}

#endif
