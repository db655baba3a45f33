// SMIME: header-driven parsing, section splitting, text form, list form and their
// round trips, with the malformed bodies a receiving server actually sees.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "SMessage.h"
#include "SMimeBody.h"
#include "SNamedLists.h"
#include "Smisc.h"

namespace {

SString Bytes(const std::string& s) { return SString(s.data(), static_cast<int>(s.size())); }
std::string Std(const SString& s) { return std::string(s.Chars(), s.Length()); }

// A header from "Name: value" lines (CR LF separated), read through the field format.
SHeader Header(const std::string& lines) {
    SHeader header;
    Bytes(lines) >> header;
    return header;
}

SMIME Parse(const std::string& headerLines, const std::string& body) {
    return SMIME(Header(headerLines), Bytes(body));
}

std::string Described(const SMIME& mime, int i) {
    return Std(mime.partTypes.Get(i) + "/" + mime.partSubtypes.Get(i) + "/" +
               mime.partEncodings.Get(i));
}

const std::string kMultipartHeader =
    "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"XyZ\"\r\n";

// Restores an environment variable when the test ends.
class EnvGuard {
public:
    explicit EnvGuard(const char* n) : name(n) {
        const char* old = getenv(n);
        had = old != nullptr;
        if (had) value = old;
    }
    ~EnvGuard() {
        if (had)
            setenv(name, value.c_str(), 1);
        else
            unsetenv(name);
    }

private:
    const char* name;
    bool had;
    std::string value;
};

TEST(MimeParse, WithoutMimeVersionTheBodyIsKeptWhole) {
    const std::string body = "--XyZ\r\nContent-Type: text/html\r\n\r\nx\r\n--XyZ--\r\n";
    SMIME mime = Parse("Content-Type: multipart/mixed; boundary=XyZ\r\n"
                       "Content-Transfer-Encoding: base64\r\n",
                       body);
    EXPECT_EQ(mime.isMime, 0);
    EXPECT_EQ(Std(mime.type), "text");
    EXPECT_EQ(Std(mime.subtype), "plain");
    EXPECT_EQ(mime.partTypes.Count(), 0);
    EXPECT_EQ(Std(SString(mime)), body);
    SStringList list = mime;
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(Std(list.Get(0)), body);
}

TEST(MimeParse, SinglePartTypesAndEncodings) {
    const struct {
        std::string header;  // after MIME-Version
        std::string body;
        std::string typeSubtype;
        std::string encoding;
        std::string decoded;
    } rows[] = {
        {"Content-Type: Text/HTML; charset=us-ascii\r\n", "<p>", "text/html", "7bit", "<p>"},
        {"", "plain", "text/plain", "7bit", "plain"},
        {"Content-Type: garbage\r\n", "x", "text/plain", "7bit", "x"},
        {"Content-Type:  \t Image/X-Icon-2_b\r\n", "x", "image/x-icon-2_b", "7bit", "x"},
        {"Content-Type: application/pdf\r\nContent-Transfer-Encoding: BASE64\r\n",
         "Zm9v\r\nYmFy\r\n", "application/pdf", "7bit", "foobar"},
        {"Content-Transfer-Encoding: quoted-printable\r\n", "caf=C3=A9", "text/plain", "7bit",
         "caf=C3=A9"},
        {"Content-Transfer-Encoding:  8BIT (comment)\r\n", "\xc3\xa9", "text/plain", "8bit",
         "\xc3\xa9"},
        {"Content-Transfer-Encoding: Binary\r\n", std::string("\0\1", 2), "text/plain",
         "binary", std::string("\0\1", 2)},
        {"Content-Transfer-Encoding: x-unknown\r\n", "y", "text/plain", "7bit", "y"},
    };
    for (const auto& row : rows) {
        SMIME mime = Parse("MIME-Version: 1.0\r\n" + row.header, row.body);
        SCOPED_TRACE(row.header);
        EXPECT_EQ(mime.isMime, 1);
        EXPECT_EQ(Std(mime.type + "/" + mime.subtype), row.typeSubtype);
        EXPECT_EQ(Std(mime.encoding), row.encoding);
        ASSERT_EQ(mime.bodies.Count(), 1);
        EXPECT_EQ(Std(mime.bodies.Get(0)), row.decoded);
        EXPECT_EQ(mime.partTypes.Count(), 0);
    }
}

TEST(MimeParse, MultipartPartsHeadersAndBodies) {
    const std::string body =
        "This is the preamble.\r\n"
        "--XyZ\r\n"
        "Content-Type: TEXT/Plain; charset=utf-8\r\n"
        "X-Other: dropped\r\n"
        "\r\n"
        "line one\r\n"
        "line two\r\n"
        "--XyZ  \t\r\n"
        "content-transfer-encoding: Base64\r\n"
        "content-type: application/octet-stream\r\n"
        "\r\n"
        "AAEC\r\n"
        "/w==\r\n"
        "--XyZ\r\n"
        "\r\n"
        "no header at all\r\n"
        "--XyZ\r\n"
        "Content-Type: text/html\r\n"
        "Content-Transfer-Encoding: quoted-printable\r\n"
        "\r\n"
        "a=3Db\r\n"
        "--XyZ--\r\n"
        "epilogue is dropped\r\n";
    SMIME mime = Parse(kMultipartHeader, body);
    EXPECT_EQ(Std(mime.type + "/" + mime.subtype), "multipart/mixed");
    EXPECT_EQ(Std(mime.boundary), "XyZ");
    ASSERT_EQ(mime.bodies.Count(), 4);
    EXPECT_EQ(Described(mime, 0), "text/plain/");
    EXPECT_EQ(Std(mime.bodies.Get(0)), "line one\r\nline two\r\n");
    EXPECT_EQ(Described(mime, 1), "application/octet-stream/base64");
    EXPECT_EQ(Std(mime.bodies.Get(1)), std::string("\0\1\2\xff", 4));
    EXPECT_EQ(Described(mime, 2), "text/plain/");
    EXPECT_EQ(Std(mime.bodies.Get(2)), "no header at all\r\n");
    EXPECT_EQ(Described(mime, 3), "text/html/quoted-printable");
    EXPECT_EQ(Std(mime.bodies.Get(3)), "a=3Db\r\n");
}

TEST(MimeParse, BoundaryParameterForms) {
    const std::string body = "--b1\r\n\r\nx\r\n--b1--\r\n";
    const struct {
        std::string contentType;
        std::string boundary;  // empty: none found
        int parts;
    } rows[] = {
        {"multipart/mixed; boundary=\"b1\"", "b1", 1},
        {"multipart/mixed; BOUNDARY=b1", "b1", 1},
        {"Multipart/Alternative;\r\n\tBoundary=\"b1\"", "b1", 1},
        // Everything up to a quote or line end is the boundary: no match for "b1".
        {"multipart/mixed; boundary=b1; charset=x", "b1; charset=x", 0},
        {"multipart/mixed", "", 0},
        {"multipart/mixed; boundary=\"\"", "", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.contentType);
        SMIME mime = Parse("MIME-Version: 1.0\r\nContent-Type: " + row.contentType + "\r\n", body);
        EXPECT_EQ(Std(mime.type), "multipart");
        EXPECT_EQ(Std(mime.boundary), row.boundary);
        EXPECT_EQ(mime.bodies.Count(), row.parts);
        EXPECT_EQ(mime.partTypes.Count(), row.parts);
    }
}

TEST(MimeParse, SectionSplittingRules) {
    const struct {
        const char* what;
        std::string body;
        int parts;
        std::string first;  // body of part 0 when there is one
    } rows[] = {
        {"closing delimiter not followed by CR LF", "--XyZ\r\n\r\nx\r\n--XyZ--", 0, ""},
        {"no closing delimiter", "--XyZ\r\n\r\nx\r\n--XyZ\r\n\r\ny\r\n", 0, ""},
        {"only a closing delimiter", "--XyZ--\r\n", 0, ""},
        {"empty body", "", 0, ""},
        {"junk after a delimiter: not a delimiter",
         "--XyZ\r\n\r\na\r\n--XyZ junk\r\nb\r\n--XyZ--\r\n", 1, "a\r\n--XyZ junk\r\nb\r\n"},
        {"odd dash run: not a delimiter", "--XyZ\r\n\r\na\r\n--XyZ---\r\n--XyZ--\r\n", 1,
         "a\r\n--XyZ---\r\n"},
        {"closing with blanks and more pairs", "--XyZ\r\n\r\na\r\n--XyZ -- \t--\r\n", 1, "a\r\n"},
        {"delimiter inside a line", "--XyZ\r\n\r\nab--XyZ--\r\n", 1, "\r\n"},
        {"adjacent delimiters", "--XyZ\r\n--XyZ\r\n\r\nz\r\n--XyZ--\r\n", 2, "\r\n"},
        {"part without an empty line", "--XyZ\r\nContent-Type: text/html\r\n--XyZ--\r\n", 1,
         "\r\n"},
        {"LF-only lines are not delimiters", "--XyZ\n\nx\n--XyZ--\n", 0, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        SMIME mime = Parse(kMultipartHeader, row.body);
        ASSERT_EQ(mime.bodies.Count(), row.parts);
        EXPECT_EQ(mime.partTypes.Count(), row.parts);
        if (row.parts > 0) {
            EXPECT_EQ(Std(mime.bodies.Get(0)), row.first);
        }
    }
    // A header-only part keeps its type though its body is empty.
    SMIME headerOnly = Parse(kMultipartHeader, "--XyZ\r\nContent-Type: text/html\r\n--XyZ--\r\n");
    EXPECT_EQ(Described(headerOnly, 0), "text/html/");
}

TEST(MimeParse, DashBoundaryInLongDashRunsStaysLinear) {
    // A boundary of dashes inside runs of 256 KiB of dashes: every position is a
    // candidate delimiter.  This must finish quickly and find the one real section.
    std::string body = "--" + std::string("-") + "\r\n\r\nbody\r\n" +
                       std::string(1 << 18, '-') + "x\r\n---\r\n" + std::string(1 << 18, '-');
    SMIME mime = Parse("MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"-\"\r\n",
                       body);
    // The first dash run ends in "x", so none of its positions starts a delimiter
    // line; the lone "---" line separates; the last run has no line end, so the text
    // has no closing delimiter and no parts.
    EXPECT_EQ(mime.bodies.Count(), 0);
    // With a line end after the last (even) run, the delimiter starting one dash into
    // it is followed by an even number of dashes: a closing delimiter.
    SMIME closed = Parse("MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"-\"\r\n",
                         body + "\r\n");
    ASSERT_EQ(closed.bodies.Count(), 2);
    EXPECT_EQ(Std(closed.bodies.Get(0)), "body\r\n" + std::string(1 << 18, '-') + "x\r\n");
    EXPECT_EQ(Std(closed.bodies.Get(1)), "\r\n");
}

TEST(MimeText, MultipartTextFormIsExact) {
    EnvGuard guard("UseContentDisposition");
    unsetenv("UseContentDisposition");
    SMIME mime;
    mime.type = "multipart";
    mime.subtype = "mixed";
    mime.boundary = "B";
    const char* types[] = {"text", "application", "text", nullptr};
    const char* subtypes[] = {"plain", "octet-stream", "html", nullptr};
    const char* encodings[] = {"7bit", "base64", "quoted-printable", nullptr};
    const char* bodies[] = {"hello\r\n", "foo", "a=3Db", nullptr};
    mime.partTypes = types;
    mime.partSubtypes = subtypes;
    mime.partEncodings = encodings;
    mime.bodies = bodies;
    const std::string expected =
        "--B\r\nContent-Type: text/plain\r\n\r\nhello\r\n"
        "--B\r\nContent-Type: application/octet-stream\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\nZm9v\r\n"
        "--B\r\nContent-Type: text/html\r\n\r\na=3Db\r\n"
        "--B--\r\n\r\n";
    EXPECT_EQ(Std(SString(mime)), expected);

    setenv("UseContentDisposition", "yes", 1);
    std::string withDisposition = Std(SString(mime));
    size_t first = withDisposition.find("Content-Disposition: attachment\r\n");
    ASSERT_NE(first, std::string::npos);
    EXPECT_GT(first, withDisposition.find("application/octet-stream"));
    EXPECT_EQ(withDisposition.find("Content-Disposition", first + 1),
              withDisposition.find("Content-Disposition: attachment\r\n\r\na=3Db"));
    EXPECT_EQ(withDisposition.size(), expected.size() + 2 * 33);

    setenv("UseContentDisposition", "YES", 1);  // only "yes" switches it on
    EXPECT_EQ(Std(SString(mime)), expected);
}

TEST(MimeText, SinglePartAndMismatchedLists) {
    SMIME text;
    text.type = "text";
    text.subtype = "plain";
    text.bodies = SStringList("a");
    text.bodies.Push("b");
    EXPECT_EQ(Std(SString(text)), "a\r\nb\r\n");

    SMIME binary;
    binary.type = "image";
    binary.subtype = "gif";
    binary.bodies = SStringList("foo");
    EXPECT_EQ(Std(SString(binary)), "Zm9v\r\n");
    EXPECT_EQ(Std(binary.encoding), "7bit");  // nothing adjusts the encoding field

    SMIME broken;
    broken.type = "multipart";
    broken.subtype = "mixed";
    broken.boundary = "B";
    broken.partTypes = SStringList("text");
    broken.partSubtypes = SStringList("plain");
    broken.partEncodings = SStringList("");
    broken.bodies = SStringList("x");
    broken.bodies.Push("y");
    SString textForm = broken;
    EXPECT_TRUE(textForm.Defined());
    EXPECT_EQ(textForm.Length(), 0);
    SStringList listForm = broken;
    EXPECT_EQ(listForm.Count(), 0);
}

TEST(MimeList, ListFormLayoutAndRebuild) {
    SMIME mime = Parse(kMultipartHeader,
                       "--XyZ\r\n\r\none\r\n--XyZ\r\nContent-Type: image/png\r\n"
                       "Content-Transfer-Encoding: base64\r\n\r\nAAE=\r\n--XyZ--\r\n");
    SStringList list = mime;
    ASSERT_EQ(list.Count(), 5);
    EXPECT_EQ(Std(list.Get(0)), "MIME/multipart/mixed/7bit");
    EXPECT_EQ(Std(list.Get(1)), "text/plain/");
    EXPECT_EQ(Std(list.Get(2)), "one\r\n");
    EXPECT_EQ(Std(list.Get(3)), "image/png/base64");
    EXPECT_EQ(Std(list.Get(4)), std::string("\0\1", 2));

    SMIME rebuilt(list);
    EXPECT_EQ(rebuilt.isMime, 1);
    EXPECT_EQ(Std(rebuilt.type + "/" + rebuilt.subtype + "/" + rebuilt.encoding),
              "multipart/mixed/7bit");
    EXPECT_TRUE(rebuilt.partTypes == mime.partTypes);
    EXPECT_TRUE(rebuilt.partSubtypes == mime.partSubtypes);
    EXPECT_TRUE(rebuilt.partEncodings == mime.partEncodings);
    EXPECT_TRUE(rebuilt.bodies == mime.bodies);
    // A rebuilt multipart body gets a fresh boundary of its own.
    EXPECT_NE(Std(rebuilt.boundary), "XyZ");
    EXPECT_NE(Std(rebuilt.boundary).find("(" + std::to_string(getpid()) + ")"),
              std::string::npos);

    SMIME single = Parse("MIME-Version: 1.0\r\nContent-Type: text/html\r\n"
                         "Content-Transfer-Encoding: 8bit\r\n",
                         "<b>");
    SStringList singleList = single;
    ASSERT_EQ(singleList.Count(), 2);
    EXPECT_EQ(Std(singleList.Get(0)), "MIME/text/html/8bit");
    SMIME singleBack(singleList);
    EXPECT_EQ(Std(singleBack.type + "/" + singleBack.subtype + "/" + singleBack.encoding),
              "text/html/8bit");
    EXPECT_EQ(Std(singleBack.bodies.Get(0)), "<b>");
    EXPECT_EQ(singleBack.bodies.Count(), 1);
    EXPECT_EQ(Std(singleBack.boundary), "");

    SMIME plain(SStringList("just text"));
    EXPECT_EQ(plain.isMime, 0);
    EXPECT_EQ(Std(plain.type + "/" + plain.subtype + "/" + plain.encoding), "text/plain/7bit");
    EXPECT_EQ(Std(SString(plain)), "just text");
}

TEST(MimeList, OddListsDoNotBreakTheRebuild) {
    // A descriptor without its body gets an undefined one, keeping the lists level.
    const char* odd[] = {"MIME/multipart/mixed/7bit", "text/plain/", "x", "image/gif", nullptr};
    SMIME mime((SStringList(odd)));
    ASSERT_EQ(mime.partTypes.Count(), 2);
    EXPECT_EQ(mime.bodies.Count(), 2);
    EXPECT_EQ(Described(mime, 1), "image/gif/");
    EXPECT_FALSE(mime.bodies.Get(1).Defined());
    // Missing pieces of the marker leave the fields undefined, never crash.
    SMIME shortMarker(SStringList("MIME/"));
    EXPECT_EQ(shortMarker.isMime, 1);
    EXPECT_EQ(Std(shortMarker.type), "");
    SMIME empty((SStringList()));
    EXPECT_EQ(empty.isMime, 0);
    EXPECT_EQ(empty.bodies.Count(), 1);
}

TEST(MimeText, ComposedBodyParsesBackToTheSameParts) {
    SMIME mime;
    mime.type = "multipart";
    mime.subtype = "mixed";
    mime.boundary = "===========================_ _= 42(7)";
    std::string binary;
    for (int i = 0; i < 1000; ++i) binary += static_cast<char>(i * 31);
    const char* types[] = {"text", "application", "message", nullptr};
    const char* subtypes[] = {"plain", "octet-stream", "rfc822", nullptr};
    const char* encodings[] = {"7bit", "base64", "7bit", nullptr};
    mime.partTypes = types;
    mime.partSubtypes = subtypes;
    mime.partEncodings = encodings;
    mime.bodies.Push("Hello moderators.\r\n");
    mime.bodies.Push(Bytes(binary));
    mime.bodies.Push("Subject: x\r\n\r\nposting\r\n");
    std::string header = "MIME-Version: 1.0\r\nContent-Type: multipart/mixed;\r\n\t\tBoundary=\"" +
                         Std(mime.boundary) + "\"\r\n";
    SMIME back = Parse(header, Std(SString(mime)));
    ASSERT_EQ(back.bodies.Count(), 3);
    EXPECT_EQ(Described(back, 0), "text/plain/");
    EXPECT_EQ(Described(back, 1), "application/octet-stream/base64");
    EXPECT_EQ(Described(back, 2), "message/rfc822/");
    EXPECT_TRUE(back.bodies == mime.bodies);
}

TEST(Mime, IsEmptyCopyAndAssign) {
    const struct {
        std::string contentType;
        std::string body;
        int empty;
    } rows[] = {
        {"text/plain", "", 1},         {"text/plain", " \r\n\t\r\n", 1},
        {"text/plain", "\r\nx\r\n", 0}, {"text/html", "", 0},
        {"image/gif", "", 0},
    };
    for (const auto& row : rows) {
        SMIME mime = Parse("MIME-Version: 1.0\r\nContent-Type: " + row.contentType + "\r\n",
                           row.body);
        EXPECT_EQ(mime.IsEmpty(), row.empty) << row.contentType << " [" << row.body << "]";
    }
    SMIME original = Parse(kMultipartHeader, "--XyZ\r\n\r\na\r\n--XyZ--\r\n");
    SMIME copy(original);
    SMIME assigned;
    assigned = original;
    SMIME& same = assigned;
    assigned = same;  // assignment to itself changes nothing
    for (const SMIME* m : {&copy, &assigned}) {
        EXPECT_EQ(Std(m->boundary), "XyZ");
        EXPECT_EQ(Std(m->type + "/" + m->subtype), "multipart/mixed");
        EXPECT_TRUE(m->bodies == original.bodies);
        EXPECT_TRUE(m->partTypes == original.partTypes);
    }
    // Copies are values: changing one leaves the other alone.
    copy.bodies.Push("more");
    EXPECT_EQ(original.bodies.Count(), 1);
}

}  // namespace
