// Fuzzes SMIME parsing of a received message: the input up to its first empty line
// is the header (read through the field format), the rest the body.  Besides not
// crashing, the parts must stay level, a non-MIME body must come back unchanged, and
// the list form must rebuild into a body with the same list form (unless the list
// form itself is ambiguous: a plain body starting with "MIME/", or a transfer
// encoding word holding "/").
#include <cstdint>
#include <cstdlib>
#include <string>

#include "SMessage.h"
#include "SMimeBody.h"
#include "SNamedLists.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

bool ListFormIsUnambiguous(const SMIME& mime) {
    if (!mime.isMime) return !mime.bodies.Get(0).HasPrefix("MIME/");
    bool slashFree = true;
    mime.partEncodings.ForEach([&](const SString& e) { slashFree = slashFree && e.Index('/') < 0; });
    return slashFree;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t split = input.find("\r\n\r\n");
    std::string head = split == std::string::npos ? input : input.substr(0, split + 2);
    std::string body = split == std::string::npos ? "" : input.substr(split + 4);
    SHeader header;
    SString(head.data(), static_cast<int>(head.size())) >> header;
    SString bodyText(body.data(), static_cast<int>(body.size()));

    SMIME mime(header, bodyText);
    int parts = mime.partTypes.Count();
    Check(mime.partSubtypes.Count() == parts && mime.partEncodings.Count() == parts);
    if (mime.type == "multipart")
        Check(mime.bodies.Count() == parts);
    else
        Check(mime.bodies.Count() == 1 && parts == 0);

    SString text = mime;
    if (!mime.isMime) Check(text == bodyText && text.Length() == bodyText.Length());
    SStringList list = mime;
    SMIME rebuilt(list);
    SStringList again = rebuilt;
    if (ListFormIsUnambiguous(mime)) Check(again == list);
    SString rebuiltText = rebuilt;
    (void)mime.IsEmpty();
    return 0;
}
