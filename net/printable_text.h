#pragma once
// Text from outside Quillmart (a server's reply, a field name read from a
// table header, a name from upload.txt) on its way to a terminal or a window.
// A terminal obeys control characters: ESC and CSI (U+009B) sequences can
// clear the screen, recolour it, retitle the window or fake the lines that
// follow. Such text is shown with its controls written out instead:
//
//   C0 bytes and DEL                  \xNN   ("\x1B[2J" for ESC [ 2 J)
//   C1 characters U+0080-U+009F       \uNNNN ("\u009B" for CSI)
//   lone bytes 0x80-0x9F (not UTF-8)  \xNN   (8-bit terminals read 0x9B as CSI)
//
// Everything else is kept byte for byte: UTF-8 text, and also the other bytes
// of a server speaking Latin-1 (a directory name handed back to it must stay
// as it was). So the result holds no control character read as UTF-8, and no
// lone C1 byte, but for the C0 characters the caller keeps.

#include <string>
#include <string_view>

namespace qm::net {

// `keep` lists C0 characters that pass unchanged (for example "\n" in a
// message of several lines); all other control characters are written out.
std::string PrintableText(std::string_view text, std::string_view keep = {});

}  // namespace qm::net
