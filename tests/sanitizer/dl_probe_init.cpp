// Loaded by dl_probe at start-up: the block allocated here is never freed, and the
// allocating stack is malloc <- this constructor <- the dynamic loader's _dl_init.
#include <cstdlib>

void* volatile dl_probe_block;

__attribute__((constructor)) static void dl_probe_leak_at_load()
{
    dl_probe_block = std::malloc(32);
    dl_probe_block = nullptr;
}
