// msvcrt: the path functions of Microsoft's C run time.
#include <stdlib.h>

#include <cerrno>
#include <string>
#include <string_view>

namespace {

bool IsSeparator(char16_t c)
{
    return c == u'\\' || c == u'/';
}

// A wanted part: a buffer and its size; NULL with size 0 when the caller does not want it.
struct PathPart {
    char16_t* buffer;
    size_t size;
    std::u16string_view text;

    bool Valid() const { return (buffer == nullptr) == (size == 0); }
    bool Fits() const { return !buffer || text.size() < size; }
    void Clear() const
    {
        if (buffer)
            buffer[0] = 0;
    }
    void Copy() const
    {
        if (!buffer)
            return;
        text.copy(buffer, text.size());
        buffer[text.size()] = 0;
    }
};

errno_t Fail(errno_t error)
{
    errno = error;
    return error;
}

} // namespace

extern "C" errno_t _wmakepath_s(char16_t* path, size_t sizeInWords, const char16_t* drive, const char16_t* dir,
                                const char16_t* fname, const char16_t* ext)
{
    if (!path || sizeInWords == 0)
        return Fail(EINVAL);
    std::u16string joined;
    if (drive && drive[0]) {
        joined += drive[0];
        joined += u':';
    }
    if (dir && dir[0]) {
        joined += dir;
        if (!IsSeparator(joined.back()))
            joined += u'\\';
    }
    if (fname)
        joined += fname;
    if (ext && ext[0]) {
        if (ext[0] != u'.')
            joined += u'.';
        joined += ext;
    }
    if (joined.size() + 1 > sizeInWords) {
        path[0] = 0;
        return Fail(ERANGE);
    }
    joined.copy(path, joined.size());
    path[joined.size()] = 0;
    return 0;
}

extern "C" errno_t _wsplitpath_s(const char16_t* path, char16_t* drive, size_t driveNumberOfElements, char16_t* dir,
                                 size_t dirNumberOfElements, char16_t* fname, size_t nameNumberOfElements,
                                 char16_t* ext, size_t extNumberOfElements)
{
    PathPart parts[4] = {{drive, driveNumberOfElements, {}},
                         {dir, dirNumberOfElements, {}},
                         {fname, nameNumberOfElements, {}},
                         {ext, extNumberOfElements, {}}};
    if (!path)
        return Fail(EINVAL);
    for (const PathPart& part : parts)
        if (!part.Valid())
            return Fail(EINVAL);

    std::u16string_view rest(path);
    if (rest.size() >= 2 && rest[1] == u':') {
        parts[0].text = rest.substr(0, 2);
        rest.remove_prefix(2);
    }
    size_t separator = rest.find_last_of(u"\\/");
    if (separator != std::u16string_view::npos) {
        parts[1].text = rest.substr(0, separator + 1);
        rest.remove_prefix(separator + 1);
    }
    size_t dot = rest.find_last_of(u'.');
    parts[2].text = rest.substr(0, dot);
    if (dot != std::u16string_view::npos)
        parts[3].text = rest.substr(dot);

    for (const PathPart& part : parts) {
        if (!part.Fits()) {
            for (const PathPart& p : parts)
                p.Clear();
            return Fail(ERANGE);
        }
    }
    for (const PathPart& part : parts)
        part.Copy();
    return 0;
}
