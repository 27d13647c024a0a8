// Repairs of a parsed MIME tree, made before it is mapped, so that a damaged message loses
// nothing GMime would otherwise leave behind:
//
// - a part with several Content-Type fields takes the first, as a repeated Subject does (GMime
//   takes the last: a multipart/alternative followed by a stray text/plain showed its raw MIME
//   as the body); a preamble with text in it, the body under the last field, is kept as the
//   attachment preamble.txt, since no reader shows the preamble of a multipart;
// - a multipart whose boundary matches no line (none given, a "boundary=" not set off by ";",
//   one too long for GMime's scanner, or lines that use another) has all its content in the
//   prologue, which no one reads. It is split here at the declared boundary, else at the one
//   its first "--" line uses; where there is none, the content becomes one text part, so that
//   the text still shows as the body.
#pragma once

typedef struct _GMimeMessage GMimeMessage;
typedef struct _GMimeParserOptions GMimeParserOptions;

namespace mailfold::mime::detail {

void repairStructure(GMimeMessage* message, GMimeParserOptions* options);

}  // namespace mailfold::mime::detail
