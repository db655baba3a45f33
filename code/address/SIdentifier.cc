// Address objects and the repair of malformed address texts.
//
// S821Address and S822Address are plain values filled by the parsers; Address()
// prints them back.  FixBogusAddress is a fixed sequence of pattern rewrites that
// reduces what real mail carries in address fields ("Name <u@h> junk", "u @ h,d",
// "a@b@c") to something the envelope parser accepts, or to the null path "<>".
#include "SIdentifier.h"

#include <string>

#include "SParser.h"

namespace {

// Shared empty values: a copy links to them instead of allocating (copy on write
// keeps them unchanged).
const SString& NoText() {
    static const SString none;
    return none;
}

const SString& EmptyText() {
    static const SString empty("");
    return empty;
}

const SStringList& NoList() {
    static const SStringList none;
    return none;
}

// The shortest printed form an address can have and still be usable.
constexpr int kUsableLength = 3;

SString EnvelopeForm(const SString& text) {
    S821Parser parser(text, 1);
    return parser.ExtractAddress().Get();
}

}  // namespace

// ---- S821Address -----------------------------------------------------------------

S821Address::S821Address() : bad(0), route(NoList()), local(NoText()), domain(NoText()) {}

S821Address::S821Address(const SString& text) : S821Address(_Parse(text)) {}

S821Address::S821Address(int32_t bad, const SStringList& route, const SString& local,
                         const SString& domain)
    : bad(bad), route(route), local(local), domain(domain) {}

S821Address::S821Address(const S821Address& other)
    : bad(other.bad), route(other.route), local(other.local), domain(other.domain) {}

S821Address& S821Address::operator=(const S821Address& other) {
    bad = other.bad;
    route = other.route;
    local = other.local;
    domain = other.domain;
    return *this;
}

S821Address::~S821Address() = default;

S821Address S821Address::_Parse(const SString& text) {
    S821Parser parser(text, 1);
    return parser.ExtractAddress();
}

SString S821Address::Get() const { return Address(); }

void S821Address::Set(const SString& text) { S821Address::operator=(_Parse(text)); }

bool S821Address::IsBad() const {
    if (bad) return true;
    bool hasRoute = route.Count() > 0;
    if (local.Length() > 0) return hasRoute && domain.Length() == 0;
    return hasRoute || domain.Length() > 0;
}

bool S821Address::IsNull() const { return !IsBad() && local.Length() == 0; }

bool S821Address::IsValid() const { return !IsBad() && local.Length() > 0; }

SString S821Address::Address() const {
    if (bad) return SString();
    bool hasRoute = route.Count() > 0, hasDomain = domain.Length() > 0;
    if (local.Length() == 0) return hasRoute || hasDomain ? SString() : SString("<>");
    if (hasRoute && !hasDomain) return SString();
    std::string out;
    out.reserve(local.Length() + domain.Length() + 4);
    out += '<';
    if (hasRoute) {
        const char* separator = "@";
        route.ForEach([&](const SString& hop) {
            out += separator;
            out.append(hop.Chars(), hop.Length());
            separator = ",@";
        });
        out += ':';
    }
    out.append(local.Chars(), local.Length());
    if (hasDomain) {
        out += '@';
        out.append(domain.Chars(), domain.Length());
    }
    out += '>';
    return SString(out.data(), static_cast<int>(out.size()));
}

// ---- S822Address -----------------------------------------------------------------

S822Address::S822Address() : endFlag(0), comment(NoText()), phrase(NoText()) {}

S822Address::S822Address(const S821Address& other)
    : S821Address(other), endFlag(0), comment(EmptyText()), phrase(EmptyText()) {}

S822Address::S822Address(const S822Address& other)
    : S821Address(other), endFlag(other.endFlag), comment(other.comment), phrase(other.phrase) {}

S822Address& S822Address::operator=(const S821Address& other) {
    S821Address::operator=(other);
    endFlag = 0;
    comment = EmptyText();
    phrase = EmptyText();
    return *this;
}

S822Address& S822Address::operator=(const S822Address& other) {
    S821Address::operator=(other);
    endFlag = other.endFlag;
    comment = other.comment;
    phrase = other.phrase;
    return *this;
}

S822Address::~S822Address() = default;

SString S822Address::Address() const {
    if (endFlag) return EmptyText();
    SString envelope = S821Address::Address();
    if (envelope.Length() == 0) return SString();
    if (envelope == "<>") return envelope;
    if (phrase.Length() > 0) return phrase + " " + envelope;
    // Without a phrase a header shows the bare "u@h"; a route needs its brackets.
    if (route.Count() == 0) envelope = SString(envelope.Chars() + 1, envelope.Length() - 2);
    if (comment.Length() > 0) return envelope + " " + comment;
    return envelope;
}

// ---- FixBogusAddress -------------------------------------------------------------

namespace {

// Keeps only what stands between the last '<' and the first '>' after it, then
// trims white space and stray brackets at both ends.
void StripAngleJunk(SString& text) {
    if (text.HasMatch("<.*>")) {
        text.S("^.+<", "");
        text.S(">.+$", "");
    }
    text.S("^[\\s<]+", "");
    text.S("[\\s>]+$", "");
}

// "a@b@c": everything before the last '@' becomes one quoted local part.  Returns
// the repaired address, or an undefined string after leaving the quoted form in
// `text` for the later steps.
SString QuoteInnerAts(SString& text) {
    if (text.Index('@') <= 0) return SString();
    SStringList parts = text.M("^(.*)@([^@]*)$");
    if (parts.Count() < 3 || parts.Get(1).Index('@') < 0) return SString();
    text = "\"" + parts.Get(1) + "\"@" + parts.Get(2);
    SString repaired = EnvelopeForm(text);
    return repaired.Length() >= kUsableLength ? repaired : SString();
}

// "u @ h,d" style domains: separators of any kind between labels become dots, and
// a bare IP address gets its brackets.
SString RepairDomain(const SString& domain) {
    SStringList labels = domain.Split("[\\s.,]+");
    if (labels.Count() > 0 && labels.Get(0).Length() == 0) labels.Shift();
    if (labels.Count() > 0 && labels.Get(-1).Length() == 0) labels.Pop();
    SString joined = labels.Join(".");
    if (!IsValidDomain(joined) && IsValidDomain("[" + joined + "]")) joined = "[" + joined + "]";
    return joined;
}

SString RepairLocalAndDomain(const SString& local, const SString& rawDomain) {
    SString domain = RepairDomain(rawDomain);
    if (!IsValidDomain(domain)) return "<>";
    SString repaired = EnvelopeForm("<" + local + "@" + domain + ">");
    if (repaired.Length() >= kUsableLength) return repaired;
    repaired = EnvelopeForm("<\"" + local + "\"@" + domain + ">");
    if (repaired.Length() >= kUsableLength) return repaired;
    return "<>";
}

}  // namespace

SString FixBogusAddress(SString text) {
    StripAngleJunk(text);
    SString repaired = QuoteInnerAts(text);
    if (repaired.Length() > 0) return repaired;
    SStringList fields = text.Split("\\s*(@\\s*)+");
    // "@r1,@r2:u@h": the source route is dropped, the hop before the local part
    // included.
    if (fields.Count() >= 3 && fields.Get(0).Length() == 0) {
        while (fields.Count() > 2) fields.Shift();
        fields[0].S(".*:\\s*", "");
    }
    if (fields.Count() == 1) {
        repaired = EnvelopeForm(fields.Get(0));
        return repaired.Length() >= kUsableLength ? repaired : SString("<>");
    }
    if (fields.Count() == 2) return RepairLocalAndDomain(fields.Get(0), fields.Get(1));
    return "<>";
}
