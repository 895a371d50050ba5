#pragma once
// ICO repacking for the icon decoder: a pure function over bytes, no Windows calls.
#include <string>

// Reduces an ICO file to its best single image (largest, then deepest); other bodies come back unchanged.
std::string reduceIcoToBestImage(const std::string& body);
