// SMIME: header-driven parsing, section splitting, text form, list form and their
// round trips, with the malformed bodies a receiving server actually sees.
#include <gtest/gtest.h>

#include <array>
#include <sstream>

#include "QueueTestSupport.h"
#include "SMessage.h"
#include "SMimeBody.h"

using namespace qbtest;
using namespace std::string_literals;

namespace {

// A header from "Name: value" lines (CR LF separated), read through the field format.
SMIME Parse(const std::string& headerLines, const std::string& body) {
    SHeader header;
    S(headerLines) >> header;
    return SMIME(header, S(body));
}

std::string TypeOf(const SMIME& m) { return Str(m.type + "/" + m.subtype); }

std::string Described(const SMIME& m, int i) {
    return Str(m.partTypes.Get(i) + "/" + m.partSubtypes.Get(i) + "/" + m.partEncodings.Get(i));
}

// A multipart body built from {type, subtype, encoding, body} rows.
SMIME Compose(const std::string& boundary,
              const std::vector<std::array<std::string, 4>>& parts) {
    SMIME mime;
    mime.type = "multipart";
    mime.subtype = "mixed";
    mime.boundary = S(boundary);
    for (const auto& p : parts) {
        mime.partTypes.Push(S(p[0]));
        mime.partSubtypes.Push(S(p[1]));
        mime.partEncodings.Push(S(p[2]));
        mime.bodies.Push(S(p[3]));
    }
    return mime;
}

// All a parse yields but the boundary: "<isMime> type/subtype/encoding" and each body
// in brackets, after "descriptor:" when there are parts.
std::string Summary(const SMIME& m) {
    std::string out = std::to_string(m.isMime) + " " + TypeOf(m) + "/" + Str(m.encoding);
    int parts = m.partTypes.Count();
    for (int i = 0; i < std::max(parts, m.bodies.Count()); ++i)
        out += "[" + (parts ? Described(m, i) + ":" : "") + Str(m.bodies.Get(i)) + "]";
    return out;
}

// Runs mime_peer.py with these arguments; 0 when it succeeded.
int Peer(const std::string& args) {
    const std::string peer = QB_SOURCE_DIR "/tests/queue/mime_peer.py ";
    return std::system(("/usr/bin/python3 " + peer + args).c_str());
}

const std::string kMime = "MIME-Version: 1.0\r\n";
const std::string kMultipartHeader = kMime + "Content-Type: multipart/mixed; boundary=\"XyZ\"\r\n";

}  // namespace

TEST(MimeParse, SinglePartTypesAndEncodings) {
    const std::string rows[][3] = {  // header after MIME-Version, body, summary
        {"Content-Type: Text/HTML; charset=us-ascii\r\n", "<p>", "text/html/7bit[<p>]"},
        {"", "plain", "text/plain/7bit[plain]"},
        {"Content-Type: garbage\r\n", "x", "text/plain/7bit[x]"},
        {"Content-Type:  \t Image/X-Icon-2_b\r\n", "x", "image/x-icon-2_b/7bit[x]"},
        {"Content-Type: application/pdf\r\nContent-Transfer-Encoding: BASE64\r\n",
         "Zm9v\r\nYmFy\r\n", "application/pdf/7bit[foobar]"},
        {"Content-Transfer-Encoding: quoted-printable\r\n", "caf=C3=A9",
         "text/plain/7bit[caf=C3=A9]"},
        {"Content-Transfer-Encoding:  8BIT (comment)\r\n", "\xc3\xa9", "text/plain/8bit[\xc3\xa9]"},
        {"Content-Transfer-Encoding: Binary\r\n", "\0\1"s, "text/plain/binary[\0\1]"s},
        {"Content-Transfer-Encoding: x-unknown\r\n", "y", "text/plain/7bit[y]"}};
    for (const auto& row : rows)
        EXPECT_EQ(Summary(Parse(kMime + row[0], row[1])), "1 " + row[2]) << row[0];

    // Without "MIME-Version:" the body is kept whole whatever the header says.
    const std::string body = "--XyZ\r\nContent-Type: text/html\r\n\r\nx\r\n--XyZ--\r\n";
    SMIME mime = Parse("Content-Type: multipart/mixed; boundary=XyZ\r\n"
                       "Content-Transfer-Encoding: base64\r\n", body);
    EXPECT_EQ(Summary(mime), "0 text/plain/7bit[" + body + "]");
    EXPECT_EQ(Str(SString(mime)), body);
    SStringList list = mime;
    EXPECT_EQ(Bracketed(list), "[" + body + "]");
}

// Preamble and epilogue are dropped, part headers are read case-blind, blanks may
// follow a delimiter, and a part without a header is text/plain.
TEST(MimeParse, MultipartPartsHeadersAndBodies) {
    SMIME mime = Parse(kMultipartHeader,
                       "This is the preamble.\r\n--XyZ\r\n"
                       "Content-Type: TEXT/Plain; charset=utf-8\r\nX-Other: dropped\r\n\r\n"
                       "line one\r\nline two\r\n--XyZ  \t\r\n"
                       "content-transfer-encoding: Base64\r\n"
                       "content-type: application/octet-stream\r\n\r\nAAEC\r\n/w==\r\n"
                       "--XyZ\r\n\r\nno header at all\r\n--XyZ\r\n"
                       "Content-Type: text/html\r\nContent-Transfer-Encoding: quoted-printable\r\n"
                       "\r\na=3Db\r\n--XyZ--\r\nepilogue is dropped\r\n");
    EXPECT_EQ(Str(mime.boundary), "XyZ");
    EXPECT_EQ(Summary(mime), "1 multipart/mixed/7bit[text/plain/:line one\r\nline two\r\n]"
                             "[application/octet-stream/base64:\0\1\2\xff][text/plain/:no header "
                             "at all\r\n][text/html/quoted-printable:a=3Db\r\n]"s);
}

TEST(MimeParse, BoundaryParameterForms) {
    const std::string one = "1 multipart/mixed/7bit[text/plain/:x\r\n] b1";
    const std::string rows[][2] = {  // Content-Type, summary and boundary
        {"multipart/mixed; boundary=\"b1\"", one}, {"multipart/mixed; BOUNDARY=b1", one},
        {"Multipart/Alternative;\r\n\tBoundary=\"b1\"",
         "1 multipart/alternative/7bit[text/plain/:x\r\n] b1"},
        // Everything up to a quote or line end is the boundary: no match for "b1".
        {"multipart/mixed; boundary=b1; charset=x", "1 multipart/mixed/7bit b1; charset=x"},
        {"multipart/mixed", "1 multipart/mixed/7bit "},
        {"multipart/mixed; boundary=\"\"", "1 multipart/mixed/7bit "}};
    for (const auto& row : rows) {
        SMIME mime =
            Parse(kMime + "Content-Type: " + row[0] + "\r\n", "--b1\r\n\r\nx\r\n--b1--\r\n");
        EXPECT_EQ(Summary(mime) + " " + Str(mime.boundary), row[1]);
    }
}

TEST(MimeParse, SectionSplittingRules) {
    const std::tuple<const char*, std::string, std::string> rows[] = {  // case, body, part bodies
        {"closing delimiter not followed by CR LF", "--XyZ\r\n\r\nx\r\n--XyZ--", ""},
        {"no closing delimiter", "--XyZ\r\n\r\nx\r\n--XyZ\r\n\r\ny\r\n", ""},
        {"only a closing delimiter", "--XyZ--\r\n", ""},
        {"empty body", "", ""},
        {"junk after a delimiter: not a delimiter",
         "--XyZ\r\n\r\na\r\n--XyZ junk\r\nb\r\n--XyZ--\r\n", "[a\r\n--XyZ junk\r\nb\r\n]"},
        {"odd dash run: not a delimiter", "--XyZ\r\n\r\na\r\n--XyZ---\r\n--XyZ--\r\n",
         "[a\r\n--XyZ---\r\n]"},
        {"closing with blanks and more pairs", "--XyZ\r\n\r\na\r\n--XyZ -- \t--\r\n", "[a\r\n]"},
        {"delimiter inside a line", "--XyZ\r\n\r\nab--XyZ--\r\n", "[\r\n]"},
        {"adjacent delimiters", "--XyZ\r\n--XyZ\r\n\r\nz\r\n--XyZ--\r\n", "[\r\n][z\r\n]"},
        {"LF-only lines are not delimiters", "--XyZ\n\nx\n--XyZ--\n", ""}};
    for (const auto& [what, body, parts] : rows) {
        SMIME mime = Parse(kMultipartHeader, body);
        // Without parts the list may be undefined or empty alike.
        EXPECT_EQ(mime.bodies.Count() ? Bracketed(mime.bodies) : "", parts) << what;
        EXPECT_EQ(mime.partTypes.Count(), mime.bodies.Count()) << what;
    }
    // A header-only part keeps its type though its body is empty.
    SMIME headerOnly = Parse(kMultipartHeader, "--XyZ\r\nContent-Type: text/html\r\n--XyZ--\r\n");
    EXPECT_EQ(Bracketed(headerOnly.bodies), "[\r\n]");
    EXPECT_EQ(Described(headerOnly, 0), "text/html/");
}

TEST(MimeParse, DashBoundaryInLongDashRunsStaysLinear) {
    // A boundary of dashes inside runs of 256 KiB of dashes: every position is a
    // candidate delimiter.  This must finish quickly and find the one real section.
    const std::string header = kMime + "Content-Type: multipart/mixed; boundary=\"-\"\r\n";
    const std::string run(1 << 18, '-');
    const std::string body = "---\r\n\r\nbody\r\n" + run + "x\r\n---\r\n" + run;
    // The first dash run ends in "x", so none of its positions starts a delimiter
    // line; the lone "---" line separates; the last run has no line end, so the text
    // has no closing delimiter and no parts.
    EXPECT_EQ(Parse(header, body).bodies.Count(), 0);
    // With a line end after the last (even) run, the delimiter starting one dash into
    // it is followed by an even number of dashes: a closing delimiter.
    SMIME closed = Parse(header, body + "\r\n");
    ASSERT_EQ(closed.bodies.Count(), 2);
    EXPECT_EQ(Str(closed.bodies.Get(0)), "body\r\n" + run + "x\r\n");
    EXPECT_EQ(Str(closed.bodies.Get(1)), "\r\n");
}

// Only base64 parts get a transfer encoding line, a line break ends every body, and
// with "UseContentDisposition" exactly "yes" every part after the first is marked as
// an attachment.
TEST(MimeText, MultipartTextFormIsExact) {
    EnvGuard env;
    SMIME mime = Compose("B", {{"text", "plain", "7bit", "hello\r\n"},
                               {"application", "octet-stream", "base64", "foo"},
                               {"text", "html", "quoted-printable", "a=3Db"}});
    auto form = [](const std::string& disposition) {
        return "--B\r\nContent-Type: text/plain\r\n\r\nhello\r\n"
               "--B\r\nContent-Type: application/octet-stream\r\n" + disposition +
               "Content-Transfer-Encoding: base64\r\n\r\nZm9v\r\n"
               "--B\r\nContent-Type: text/html\r\n" + disposition + "\r\na=3Db\r\n--B--\r\n\r\n";
    };
    for (const char* value : {"", "yes", "YES"}) {
        *value ? env.Set("UseContentDisposition", value) : env.Unset("UseContentDisposition");
        const char* disposition = *value == 'y' ? "Content-Disposition: attachment\r\n" : "";
        EXPECT_EQ(Str(SString(mime)), form(disposition)) << value;
    }
}

TEST(MimeText, SinglePartAndMismatchedLists) {
    SMIME single;
    single.type = "text";
    single.subtype = "plain";
    single.bodies = ListOf({"a", "b"});
    EXPECT_EQ(Str(SString(single)), "a\r\nb\r\n");
    single.type = "image";
    single.bodies = ListOf({"foo"});
    EXPECT_EQ(Str(SString(single)), "Zm9v\r\n");
    EXPECT_EQ(Str(single.encoding), "7bit");  // nothing adjusts the encoding field

    // More bodies than descriptors: an empty text form and an empty list form.
    SMIME broken = Compose("B", {{"text", "plain", "", "x"}});
    broken.bodies.Push("y");
    SString textForm = broken;
    SStringList listForm = broken;
    EXPECT_TRUE(textForm.Defined());
    EXPECT_EQ(textForm.Length() + listForm.Count(), 0);
}

// The list form: a "MIME/" marker with the top type, then descriptor and body of
// each part; rebuilding from it gives the same parts under a fresh boundary.
TEST(MimeList, ListFormLayoutAndRebuild) {
    SMIME mime = Parse(kMultipartHeader,
                       "--XyZ\r\n\r\none\r\n--XyZ\r\nContent-Type: image/png\r\n"
                       "Content-Transfer-Encoding: base64\r\n\r\nAAE=\r\n--XyZ--\r\n");
    SMIME single = Parse(kMime + "Content-Type: text/html\r\nContent-Transfer-Encoding: 8bit\r\n",
                         "<b>");
    SStringList list = mime, singleList = single;
    EXPECT_EQ(Bracketed(list), "[MIME/multipart/mixed/7bit][text/plain/][one\r\n]"
                               "[image/png/base64][" + std::string("\0\1", 2) + "]");
    EXPECT_EQ(Bracketed(singleList), "[MIME/text/html/8bit][<b>]");
    SMIME rebuilt(list), singleBack(singleList), plain(SStringList("just text"));
    EXPECT_EQ(Summary(rebuilt), Summary(mime));
    EXPECT_NE(Str(rebuilt.boundary), "XyZ");
    EXPECT_NE(Str(rebuilt.boundary).find("(" + std::to_string(getpid()) + ")"), std::string::npos);
    EXPECT_EQ(Summary(singleBack) + Str(singleBack.boundary), Summary(single));
    EXPECT_EQ(Summary(plain), "0 text/plain/7bit[just text]");
    EXPECT_EQ(Str(SString(plain)), "just text");
}

TEST(MimeList, OddListsDoNotBreakTheRebuild) {
    // A descriptor without its body gets an undefined one, keeping the lists level.
    SMIME mime(ListOf({"MIME/multipart/mixed/7bit", "text/plain/", "x", "image/gif"}));
    ASSERT_EQ(mime.partTypes.Count(), 2);
    EXPECT_EQ(Described(mime, 1), "image/gif/");
    EXPECT_EQ(Bracketed(mime.bodies), "[x][?]");
    // Missing pieces of the marker leave the fields undefined, never crash.
    SMIME shortMarker(SStringList("MIME/"));
    EXPECT_EQ(shortMarker.isMime, 1);
    EXPECT_EQ(Str(shortMarker.type), "");
    SMIME empty((SStringList()));
    EXPECT_EQ(empty.isMime, 0);
    EXPECT_EQ(empty.bodies.Count(), 1);
}

TEST(Mime, IsEmptyCopyAndAssign) {
    const std::tuple<std::string, std::string, int> rows[] = {  // type, body, empty?
        {"text/plain", "", 1}, {"text/plain", " \r\n\t\r\n", 1}, {"text/plain", "\r\nx\r\n", 0},
        {"text/html", "", 0},  {"image/gif", "", 0}};
    for (const auto& [type, body, empty] : rows)
        EXPECT_EQ(Parse(kMime + "Content-Type: " + type + "\r\n", body).IsEmpty(), empty)
            << type << " [" << body << "]";
    SMIME original = Parse(kMultipartHeader, "--XyZ\r\n\r\na\r\n--XyZ--\r\n");
    SMIME copy(original), assigned;
    assigned = original;
    assigned = static_cast<SMIME&>(assigned);  // assignment to itself changes nothing
    for (const SMIME* m : {&copy, &assigned})
        EXPECT_EQ(Summary(*m) + " " + Str(m->boundary), Summary(original) + " XyZ");
    copy.bodies.Push("more");  // copies are values
    EXPECT_EQ(original.bodies.Count(), 1);
}

// ---- against Python's email package -------------------------------------------------
//
// mime_peer.py builds multipart, Base64, quoted-printable, nested and non-MIME
// messages and records the part types and decoded bodies its own parser sees; SMIME
// must recover the same.

TEST(MimePeer, RecoversPythonPartsAndBodies) {
    TempDir dir("mime-peer");
    ASSERT_EQ(Peer("'" + dir.Path() + "' 1997"), 0);
    int count = std::atoi(dir.Read("count").c_str());
    ASSERT_GT(count, 40);
    int multiparts = 0, base64Parts = 0;
    for (int k = 0; k < count; ++k) {
        const std::string stem = std::to_string(k);
        SCOPED_TRACE("case " + stem);
        const std::string message = dir.Read(stem + ".eml"), top = dir.Read(stem + ".top");
        const size_t split = message.find("\r\n\r\n");
        SMIME mime = Parse(message.substr(0, split + 2), message.substr(split + 4));
        std::istringstream parts(dir.Read(stem + ".parts"));
        int i = 0;
        for (std::string part; std::getline(parts, part); ++i) {
            // "type/subtype/encoding/check"; a nested multipart (check 0) stays raw.
            EXPECT_EQ(Described(mime, i), part.substr(0, part.size() - 2)) << "part " << i;
            if (part.back() == '1') {
                EXPECT_EQ(Str(mime.bodies.Get(i)), dir.Read(stem + ".body" + std::to_string(i)));
            } else {
                EXPECT_NE(Str(mime.bodies.Get(i)).find("--="), std::string::npos);
            }
            base64Parts += mime.partEncodings.Get(i) == "base64";
        }
        multiparts += i > 0;
        // Without MIME-Version the type is "text/plain" whatever the header says.
        EXPECT_EQ(TypeOf(mime) + "/" + std::to_string(mime.isMime),
                  top.back() == '1' ? top : "text/plain/0");
        EXPECT_EQ(mime.partTypes.Count(), i);
        EXPECT_EQ(mime.bodies.Count(), std::max(i, 1));
        if (i == 0) {
            EXPECT_EQ(Str(mime.bodies.Get(0)), dir.Read(stem + ".body0"));
        }
    }
    // The generated set must really exercise multipart and Base64 parsing.
    EXPECT_GT(multiparts, 20);
    EXPECT_GT(base64Parts, 20);
}

// Our text form, with a boundary full of the characters a boundary may hold, reads
// back as the same parts both through SMIME and through Python.
TEST(MimePeer, OurTextFormReadsBack) {
    TempDir dir("mime-ours");
    std::string binary;
    for (int i = 0; i < 3000; ++i) binary += static_cast<char>((i * 7919) & 0xFF);
    const std::string boundary = "===========================_ _= 42(7)";
    SMIME mime = Compose(boundary, {{"text", "plain", "", "first part\r\nline two\r\n"},
                                    {"application", "octet-stream", "base64", binary},
                                    {"message", "rfc822", "", "Subject: x\r\n\r\nposting\r\n"}});
    const std::string header =
        kMime + "Content-Type: multipart/mixed;\r\n\t\tBoundary=\"" + boundary + "\"\r\n";
    EXPECT_EQ(Summary(Parse(header, Str(SString(mime)))), Summary(mime));

    dir.Write("ours.eml", header + "\r\n" + Str(SString(mime)));
    ASSERT_EQ(Peer("--read '" + dir.Path() + "'"), 0);
    EXPECT_EQ(dir.Read("type0") + " " + dir.Read("type1") + " " + dir.Read("type2"),
              "text/plain application/octet-stream message/rfc822");
    // The line break before each delimiter belongs to the delimiter, so Python reads
    // the text bodies without their final CR LF.
    EXPECT_EQ(dir.Read("body0"), "first part\r\nline two");
    EXPECT_EQ(dir.Read("body1"), binary);
    EXPECT_EQ(dir.Read("body2"), "Subject: x\r\n\r\nposting");
}
