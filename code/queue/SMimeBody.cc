// SMIME: parsing a received body into parts, and writing bodies back as text or as
// the flat list form.
//
// Parsing never fails: a body without "MIME-Version:" is kept whole, a multipart
// body without a usable boundary or closing delimiter has no parts, and Base64 is
// decoded leniently.  Section splitting is linear in the body size even for
// pathological boundaries, so hostile mail cannot stall a module.
#include "SMimeBody.h"

#include <vector>

#include "SMessage.h"
#include "SNamedLists.h"
#include "Smime.h"
#include "Smisc.h"
#include "Sprocess.h"

namespace {

const char kCRLF[] = "\r\n";
const char kListMarker[] = "MIME/";

SString Lower(SString s) { return s.LowerCase(); }

// The first word of a header value, words being delimited by white space.
SString FirstWord(const SString& value) {
    const char* p = value.Chars();
    int len = value.Length(), i = 0;
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (i < len && blank(p[i])) ++i;
    int start = i;
    while (i < len && !blank(p[i])) ++i;
    return SString(p + start, i - start);
}

SString Descriptor(const SString& type, const SString& subtype, const SString& encoding) {
    return type + "/" + subtype + "/" + encoding;
}

// What follows "--" + boundary up to the line end decides whether an occurrence is a
// delimiter: only blanks, tabs and "--" pairs are allowed, and a pair makes it the
// closing one.  For one line the answer for every start position is computed right
// to left in a single pass, so a line holding many occurrences (a boundary made of
// dashes inside a long run of dashes) costs time linear in the line, not quadratic.
class DelimiterTail {
public:
    enum Kind : unsigned char { kNone = 0, kSeparator = 1, kClosing = 2 };

    Kind At(const SString& text, int from, int eol) {
        if (eol != end || from < start) _Compute(text.Chars(), from, eol);
        return static_cast<Kind>(kinds[from - start]);
    }

private:
    void _Compute(const char* p, int from, int eol) {
        start = from;
        end = eol;
        kinds.assign(eol - from + 1, kNone);
        kinds[eol - from] = kSeparator;
        for (int j = eol - 1; j >= from; --j) {
            unsigned char& kind = kinds[j - from];
            if (p[j] == ' ' || p[j] == '\t')
                kind = kinds[j + 1 - from];
            else if (p[j] == '-' && j + 1 < eol && p[j + 1] == '-')
                kind = kinds[j + 2 - from] == kNone ? kNone : kClosing;
        }
    }

    int start = 0;
    int end = -1;
    std::vector<unsigned char> kinds;
};

}  // namespace

// ---- construction ----------------------------------------------------------------

SMIME::SMIME() : encoding("7bit"), isMime(1) {}

SMIME::SMIME(const SHeader& header, const SString& body) : encoding("7bit"), isMime(1) {
    _Parse(header, body);
}

SMIME::SMIME(const SStringList& list) : encoding("7bit"), isMime(1) {
    SString marker = list.Get(0);
    if (!marker.HasPrefix(kListMarker)) {
        isMime = 0;
        type = "text";
        subtype = "plain";
        bodies.Push(marker);
        return;
    }
    SStringList pieces = marker.SplitExact("/");
    type = pieces.Get(1);
    subtype = pieces.Get(2);
    encoding = pieces.Get(3);
    if (type != "multipart") {
        bodies.Push(list.Get(1));
        return;
    }
    boundary = CreateMIMEBoundary();
    // Elements 1, 3, 5 ... describe parts; each is followed by that part's body.  A
    // descriptor left without a body gets an undefined one, keeping the lists level.
    int index = 0;
    list.ForEach([this, &index](const SString& element) {
        if (index > 0 && index % 2 == 1) {
            SStringList descriptor = element.SplitExact("/");
            partTypes.Push(descriptor.Get(0));
            partSubtypes.Push(descriptor.Get(1));
            partEncodings.Push(descriptor.Get(2));
        } else if (index > 0) {
            bodies.Push(element);
        }
        ++index;
    });
    if (index > 1 && index % 2 == 0) bodies.Push(SString());
}

SMIME::SMIME(const SMIME& other) = default;

SMIME& SMIME::operator=(const SMIME& other) {
    if (this == &other) return *this;
    boundary = other.boundary;
    type = other.type;
    subtype = other.subtype;
    encoding = other.encoding;
    isMime = other.isMime;
    partTypes = other.partTypes;
    partSubtypes = other.partSubtypes;
    partEncodings = other.partEncodings;
    bodies = other.bodies;
    return *this;
}

SMIME::~SMIME() = default;

// ---- parsing a received message ----------------------------------------------------

void SMIME::_Parse(const SNamedStringList& header, const SString& body) {
    if (!header.Get("MIME-Version:").Defined()) {
        isMime = 0;
        type = "text";
        subtype = "plain";
        bodies.Push(body);
        return;
    }
    SString contentType = header.Get("Content-Type:").Get(0);
    _ParseContentType(contentType);
    SString transfer = _TransferEncodingWord(header);
    if (transfer == "8bit" || transfer == "binary") encoding = transfer;
    if (type == "multipart")
        _ParseMultipart(contentType, body);
    else
        bodies.Push(transfer == "base64" ? DecodeBase64(body) : body);
}

// Only the media type and subtype are taken; parameters other than the boundary
// (read separately) are ignored.
void SMIME::_ParseContentType(const SString& value) {
    SStringList found = value.M("^[ \t]*([^/]+)/([-\\w]+)");
    if (found.Count() == 3) {
        type = Lower(found.Get(1));
        subtype = Lower(found.Get(2));
    } else {
        type = "text";
        subtype = "plain";
    }
}

// Every transfer-encoding word is returned (lower case), even those such as
// "base64" or "quoted-printable" that never become the body's encoding field.
SString SMIME::_TransferEncodingWord(const SNamedStringList& header) {
    return Lower(FirstWord(header.Get("Content-Transfer-Encoding:").Get(0)));
}

void SMIME::_ParseMultipart(const SString& contentType, const SString& body) {
    SStringList found = contentType.M("Boundary=\"?([^\"\r\n]+)\"?", "i");
    if (found.Count() != 2) return;
    boundary = found.Get(1);
    _ParseMIMESections(boundary, body).ForEach([this](const SString& section) {
        _ParsePart(section);
    });
}

// A section is the part's own header lines, an empty line and the part body.  The
// body lines, split at CR LF and joined again with CR LF, are the text after the
// first empty line as it stands; Base64 decoding drops the line breaks anyway, so
// the body is taken whole instead of line by line.  A section with no empty line is
// all header, and its body is empty.
void SMIME::_ParsePart(const SString& section) {
    SString partType("text"), partSubtype("plain"), partEncoding("");
    int headerEnd = section.HasPrefix(kCRLF) ? 0 : section.Index("\r\n\r\n");
    SString headerText = headerEnd < 0 ? section : section.Segment(0, headerEnd);
    SString partBody("");
    if (headerEnd >= 0) {
        int bodyStart = headerEnd == 0 ? 2 : headerEnd + 4;
        partBody = section.Segment(bodyStart, section.Length() - bodyStart);
    }
    headerText.SplitExact(kCRLF).ForEach([&](const SString& line) {
        SStringList found = line.M("^Content-Type:[ \t]*([^/]+)/([-\\w]+)", "i");
        if (found.Count() == 3) {
            partType = Lower(found.Get(1));
            partSubtype = Lower(found.Get(2));
            return;
        }
        found = line.M("^Content-Transfer-Encoding:\\s+(\\S+)", "i");
        if (found.Count() == 2) partEncoding = Lower(found.Get(1));
    });
    partTypes.Push(partType);
    partSubtypes.Push(partSubtype);
    partEncodings.Push(partEncoding);
    bodies.Push(partEncoding == "base64" ? DecodeBase64(partBody) : partBody + kCRLF);
}

// The delimiter is "--" + boundary wherever it occurs, followed on its line only by
// blanks, tabs and "--" pairs.  Sections are the texts between delimiter lines, each
// without the line break just before the next delimiter; the preamble is dropped.
// Without a closing delimiter there are no sections at all.
SStringList SMIME::_ParseMIMESections(const SString& bound, const SString& text) {
    const SString delimiter = "--" + bound;
    SStringList sections;
    DelimiterTail tail;
    int position = 0, sectionStart = -1, eol = -1;
    for (;;) {
        int at = text.Index(delimiter, position);
        if (at < 0) break;
        int after = at + delimiter.Length();
        // Occurrences only move forward, so the line end found for an earlier one
        // still holds while it lies ahead.
        if (eol < after) eol = text.Index(kCRLF, after);
        if (eol < 0) break;  // no line end follows: no later occurrence can qualify
        DelimiterTail::Kind kind = tail.At(text, after, eol);
        if (kind == DelimiterTail::kNone) {
            position = at + 1;
            continue;
        }
        if (sectionStart >= 0) sections.Push(text.Segment(sectionStart, at - 2 - sectionStart));
        if (kind == DelimiterTail::kClosing) return sections;
        sectionStart = position = eol + 2;
    }
    return SStringList();
}

// ---- writing back ------------------------------------------------------------------

bool SMIME::_PartsAgree() const {
    int n = bodies.Count();
    return partTypes.Count() == n && partSubtypes.Count() == n && partEncodings.Count() == n;
}

SString SMIME::_MultipartText() const {
    if (!_PartsAgree()) return SString("");
    const bool disposition = GetEnv("UseContentDisposition") == "yes";
    const SString delimiter = "--" + boundary;
    SString text("");
    int i = 0;
    // The four lists are walked together; Get(i) on a linked list would be quadratic.
    SStringList subtypes = partSubtypes, encodings = partEncodings, contents = bodies;
    partTypes.ForEach([&](const SString& partType) {
        SString partEncoding = encodings.Shift();
        SString content = contents.Shift();
        text += delimiter + kCRLF;
        text += "Content-Type: " + partType + "/" + subtypes.Shift() + kCRLF;
        if (i++ > 0 && disposition) text += "Content-Disposition: attachment\r\n";
        if (partEncoding == "base64") {
            text += "Content-Transfer-Encoding: base64\r\n\r\n";
            text += EncodeBase64(content);
        } else {
            text += kCRLF;
            text += content;
        }
        if (text[-1] != '\n') text += kCRLF;
    });
    text += delimiter + "--\r\n\r\n";
    return text;
}

SMIME::operator SString() const {
    if (!isMime) return bodies.Get(0);
    if (type == "multipart") return _MultipartText();
    if (type == "text" && subtype == "plain") return bodies.Join(kCRLF) + kCRLF;
    return EncodeBase64(bodies.Get(0));
}

SMIME::operator SStringList() const {
    if (!isMime) return bodies;
    SStringList list;
    list.Push(kListMarker + Descriptor(type, subtype, encoding));
    if (type != "multipart") {
        list.Push(bodies.Get(0));
        return list;
    }
    if (!_PartsAgree()) {
        SStringList empty;
        empty.Reset();
        return empty;
    }
    SStringList subtypes = partSubtypes, encodings = partEncodings, contents = bodies;
    partTypes.ForEach([&](const SString& partType) {
        list.Push(Descriptor(partType, subtypes.Shift(), encodings.Shift()));
        list.Push(contents.Shift());
    });
    return list;
}

int SMIME::IsEmpty() const {
    if (type != "text" || subtype != "plain") return 0;
    return bodies.Get(0).HasMatch("^\\s*$") ? 1 : 0;
}
