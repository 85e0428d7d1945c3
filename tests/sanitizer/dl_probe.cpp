// Exits 0 under LeakSanitizer only if the leak made while dl_probe_init was loaded is
// suppressed, that is if the suppression by _dl_init can match (see CMakeLists.txt).
int main()
{
    return 0;
}
