// The one check of a member name taken from an archive (ZIP, RAR5 and every
// import that unpacks), before anything is written under its name.
//
// A name is a relative path of elements separated by "/" (a "\" counts as a
// separator too, as it does on Windows). It is refused when:
//   - it is empty, or one of its elements is empty ("a//b"); one "/" at the
//     end is allowed (the folder entries of ZIP writers end with it);
//   - it starts with "/" or "\", holds a ":" anywhere (drive prefixes such
//     as "C:x", alternate data streams), a NUL or a control character;
//   - an element is "." or "..";
//   - an element is a Windows device name (CON, PRN, AUX, NUL, COM1-COM9,
//     LPT1-LPT9, in any case, also with an extension: "con.txt");
//   - an element ends with a dot or a blank (Windows drops them, so "a." and
//     "a" would be one file there).
// A name that passes can only name something below the folder it is joined
// to, on both systems.
#pragma once
#include <string>
#include <string_view>

// True when the member may be unpacked under its name; otherwise `why`
// (when given) says in a few words what is wrong with it.
bool member_name_ok(std::string_view name, std::string* why = nullptr);

// The folder `base` joined with a name that passed member_name_ok, as plain
// text: "/" between them and "/" for every "\" of the name. Never use a
// path library's join for untrusted names: there "/x" replaces the base.
std::string member_join(std::string_view base, std::string_view checked_name);

// The path to unpack a member to below `base`: checks the name with
// member_name_ok, joins it with member_join and refuses a symbolic link or
// junction already on disk at any element below `base` (a folder link
// planted by an earlier member or another program would lead the write
// elsewhere). False with `why` set when the member must not be written.
bool member_path(std::string_view base, std::string_view name, std::string& out, std::string* why = nullptr);
