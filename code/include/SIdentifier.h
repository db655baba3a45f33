// Address objects: S821Address (one envelope address: source route, local part,
// domain and a "did not parse" flag), S822Address (a header address, adding the
// display phrase, a trailing comment and the end-of-list marker) and FixBogusAddress,
// which repairs a malformed address text into the best envelope form it can.
// Addresses are values; none of these operations throws.  A text that does not
// parse gives an address marked bad whose Address() is the undefined string.
#ifndef QUILLBOX_SIDENTIFIER_H
#define QUILLBOX_SIDENTIFIER_H

#include <cstdint>

#include "SString.h"
#include "SStringList.h"

class S821Parser;
class S822Parser;

class S821Address {
public:
    S821Address();
    // Parses `text` as an envelope address, leniently (see S821Parser).
    S821Address(const SString& text);
    S821Address(const S821Address& other);
    S821Address& operator=(const S821Address& other);

    // The printed form, i.e. the virtual Address().
    virtual SString Get() const;
    // Re-parses: all four fields are replaced by the result of _Parse(text).
    virtual void Set(const SString& text);
    virtual ~S821Address();
    // "<u@h>", "<postmaster>", "<@r1,@r2:u@h>", "<>"; undefined when the address is
    // bad or its parts do not form an address (a route without a domain...).
    virtual SString Address() const;

    static S821Address _Parse(const SString& text);

    SStringList Route() const { return route; }
    SString LocalPart() const { return local; }
    SString Domain() const { return domain; }
    SStringList& Route() { return route; }
    SString& LocalPart() { return local; }
    SString& Domain() { return domain; }

    bool IsBad() const;
    bool IsNull() const;   // the null path "<>"
    bool IsValid() const;  // usable: not bad, has a local part

protected:
    // The parsers fill the fields directly.
    friend class S821Parser;
    friend class S822Parser;
    S821Address(int32_t bad, const SStringList& route, const SString& local,
                const SString& domain);

    int32_t bad;
    SStringList route;  // first hop first
    SString local;      // quoted only where needed
    SString domain;     // empty when the address has none
};

class S822Address : public S821Address {
public:
    S822Address();
    S822Address(const S821Address& other);
    S822Address(const S822Address& other);
    S822Address& operator=(const S821Address& other);
    S822Address& operator=(const S822Address& other);
    ~S822Address() override;

    // The header form: "Phrase <u@h>", "u@h (comment)", "u@h", "<>"; empty at the end
    // of a list, undefined when the address is unusable.
    SString Address() const override;

    SString Phrase() const { return phrase; }
    SString Comment() const { return comment; }
    SString& Phrase() { return phrase; }
    SString& Comment() { return comment; }
    // True when the header list held no further address.
    bool IsEnd() const { return endFlag != 0; }

protected:
    friend class S822Parser;

    int32_t endFlag;
    SString comment;  // parentheses included
    SString phrase;   // words joined by single spaces, quotes kept
};

// The repaired address in angle form ("<u@h>"), or "<>" when nothing usable is left.
SString FixBogusAddress(SString text);

#endif
