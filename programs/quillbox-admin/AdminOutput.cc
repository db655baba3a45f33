// JSON and text formatting for quillbox-admin's reports.
#include "AdminOutput.h"

#include <cstdio>

SString JsonString(const SString& text) {
    SString out("\"");
    const char* p = text.Chars();
    for (int i = 0; i < text.Length(); ++i) {
        unsigned char c = static_cast<unsigned char>(p[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c >= 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
    return out;
}

SString JsonArray(const SStringList& items) { return "[" + items.Join(",") + "]"; }

SString JsonStrings(const SStringList& list) {
    SStringList items;
    list.ForEach([&items](const SString& s) { items.Push(JsonString(s)); });
    return JsonArray(items);
}

JsonObject& JsonObject::Raw(const char* key, const SString& json) {
    if (members.Length() > 0) members += ",";
    members += JsonString(key) + ":" + json;
    return *this;
}

SString TextField(const SString& name, const SStringList& values, int indent) {
    SString lead(' ', indent);
    SString out = lead + name + ":";
    if (values.Count() == 0) return out + "\n";
    SString under(' ', indent + name.Length() + 2);
    for (int i = 0; i < values.Count(); ++i)
        out += (i == 0 ? SString(" ") : under) + values.Get(i) + "\n";
    return out;
}
