#pragma once

#include <string>
#include <string_view>
#include <vector>

// The field lines of a header block (a response header after its status
// line, or the header of a multipart part), parsed by the message grammar:
// each line is "name: value"; the name starts the line and is matched
// exactly, in any letter case; the value is trimmed of blanks and tabs.
// Lines end in CRLF or in a lone LF; a line that starts with a blank or a tab
// continues the field before it (an obsolete fold, joined with one space).
class BRHTTPFields {
public:
    struct Field {
        std::string name;
        std::string value;
    };

    // False when the block breaks the grammar: a lone CR, a NUL, a line
    // without a colon, a name that is empty or holds anything but token
    // characters (a blank before the colon included), a fold with no field
    // before it.
    bool Parse(std::string_view block);

    // The value of the first field of this name, or null.
    const std::string* Find(std::string_view name) const;
    // The values of every field of this name, in order.
    std::vector<std::string_view> All(std::string_view name) const;

    const std::vector<Field>& List() const { return fields; }

private:
    std::vector<Field> fields;
};
