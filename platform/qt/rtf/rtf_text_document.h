// Between RTF and Qt's QTextDocument, through the RTF codec's document model
// (platform/rtf/rtf.h). What carries over is what the edit window's toolbar
// sets: per character the font name, size in points, bold, italic, underline
// and colour; per paragraph the alignment and bullets.
#pragma once

#include <string>
#include <string_view>

class QTextDocument;

namespace veltra {

// Replaces the content of `document` by the RTF text `rtf` (read as
// ReadRtf reads it: never throws on any bytes). Consecutive bulleted
// paragraphs form one bulleted list. A run without a font name takes the
// document's default font family; a run without a colour keeps the default
// (automatic) text colour. The document's undo stack is cleared and its
// modified flag reset.
void RtfToTextDocument(std::string_view rtf, QTextDocument& document);

// Writes `document` as RTF (WriteRtf's form: 7-bit text that ends with
// kRtfClosing). Every block is one paragraph; a block in any list is written
// as a bulleted paragraph. A character format without an explicit family or
// size takes the document's default font; one without an explicit
// foreground is written as the automatic colour. Objects such as images
// (U+FFFC) are left out. An empty document writes one empty paragraph.
std::string TextDocumentToRtf(const QTextDocument& document);

}  // namespace veltra
