#include "music/music.hpp"

#include "assets/stored_data.hpp"

#include <cstring>
#include <new>

namespace {

struct MemoryStream {
    const unsigned char* bytes;
    int length;
    int position;
};

struct MemoryFile {
    const void* name;
    const unsigned char* bytes;
    std::size_t size;
};

constexpr int maxFiles = 16;
MemoryFile files[maxFiles];
int fileCount = 0;

MemoryFile* findFile(const void* name)
{
    for (int i = 0; i < fileCount; ++i)
        if (files[i].name == name)
            return &files[i];
    return nullptr;
}

} // namespace

bool memRegister(const void* name, const unsigned char* bytes, std::size_t size)
{
    MemoryFile* file = findFile(name);
    if (!file && fileCount < maxFiles)
        file = &files[fileCount++];
    if (file)
        *file = {name, bytes, size};
    return file != nullptr;
}

void* memOpen(const char* name)
{
    // Only blocks of known length can be served: reading an unknown one would
    // run off the end of whatever lies at that address.
    MemoryFile file{};
    if (const MemoryFile* registered = findFile(name))
        file = *registered;
    else if (name && name == reinterpret_cast<const char*>(soundtrackModule))
        file = {soundtrackModule, soundtrackModule, soundtrackModuleSize};
    else
        return nullptr;
    if (file.size > 0x7fffffff)
        return nullptr;
    return new (std::nothrow) MemoryStream{file.bytes, static_cast<int>(file.size), 0};
}

void memClose(void* handle)
{
    delete static_cast<MemoryStream*>(handle);
}

int memRead(void* buffer, int size, void* handle)
{
    auto* stream = static_cast<MemoryStream*>(handle);
    if (!stream || !buffer || size <= 0)
        return 0;
    const int count = size < stream->length - stream->position ? size : stream->length - stream->position;
    if (count <= 0)
        return 0;
    std::memcpy(buffer, stream->bytes + stream->position, static_cast<std::size_t>(count));
    stream->position += count;
    return count;
}

int memSeek(void* handle, int position, signed char mode)
{
    auto* stream = static_cast<MemoryStream*>(handle);
    if (!stream)
        return 0;
    long long base = 0;
    if (mode == 1)
        base = stream->position;
    else if (mode == 2)
        base = stream->length;
    else if (mode != 0)
        return 0;
    const long long target = base + position;
    if (target < 0 || target > stream->length)
        return 0;
    stream->position = static_cast<int>(target);
    return 1;
}

int memTell(void* handle)
{
    const auto* stream = static_cast<const MemoryStream*>(handle);
    return stream ? stream->position : -1;
}
