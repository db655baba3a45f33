// SMIME: the in-memory model of a message body, plain or multipart.
//
// Built from a received message (header plus body text), from its flat list form,
// or field by field by code that composes new messages; turned back into body text
// (CR LF line ends) or into the list form.  The fields are public on purpose:
// composing code fills them directly.  Malformed bodies never fail: they parse to
// fewer (or no) parts.  Convert with `SString text = mime;` and
// `SStringList list = mime;` (copy-initialisation picks the matching conversion).
#ifndef QUILLBOX_SMIMEBODY_H
#define QUILLBOX_SMIMEBODY_H

#include "SString.h"
#include "SStringList.h"

class SHeader;
class SNamedStringList;

class SMIME {
public:
    // An empty MIME body: encoding "7bit", isMime 1, everything else empty.
    SMIME();
    // Parses a received message; without "MIME-Version:" the body is kept as it is.
    SMIME(const SHeader& header, const SString& body);
    // Rebuilds a body from its list form (element 0 "MIME/type/subtype/encoding");
    // a list whose first element lacks the marker is a plain, non-MIME body.
    explicit SMIME(const SStringList& list);
    SMIME(const SMIME& other);
    SMIME& operator=(const SMIME& other);
    virtual ~SMIME();

    // The body text.  Empty for a multipart body whose part lists disagree in length.
    operator SString() const;
    // The list form.  Empty for a multipart body whose part lists disagree in length.
    operator SStringList() const;

    // True only for a text/plain body whose first body is blank or empty.
    int IsEmpty() const;

    SString boundary;  // without the leading "--"
    SString type;      // lower case: "text", "multipart" ...
    SString subtype;   // lower case: "plain", "mixed" ...
    SString encoding;  // "7bit" unless "8bit" or "binary"
    int isMime;        // 0: bodies holds the text unchanged
    SStringList partTypes;
    SStringList partSubtypes;
    SStringList partEncodings;  // per part, possibly empty
    SStringList bodies;         // decoded part bodies; one element for a single part

private:
    void _Parse(const SNamedStringList& header, const SString& body);
    void _ParseContentType(const SString& value);
    SString _TransferEncodingWord(const SNamedStringList& header);
    void _ParseMultipart(const SString& contentType, const SString& body);
    void _ParsePart(const SString& section);
    SStringList _ParseMIMESections(const SString& boundary, const SString& text);
    bool _PartsAgree() const;
    SString _MultipartText() const;
};

#endif
