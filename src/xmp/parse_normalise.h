// Post-parse normalisation: brings a freshly parsed metadata tree into the
// toolkit's canonical shape (Dublin Core arrays, aliases moved to their
// actual properties, repaired values).
#pragma once

#include <string>

#include "xmp/xmp_types.h"

class XMP_Node;

void MakeDCArrays(XMP_Node* tree);
void MoveAliasedProperties(XMP_Node* tree, XMP_OptionBits parseOptions);
void RepairTree(XMP_Node* tree);

// Turns "&#xH;" and "&#xHH;" (upper-case digits) back into the character.
void RestoreControlChars(std::string* text);
