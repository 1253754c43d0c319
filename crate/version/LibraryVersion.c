/* File version of a crate library, kept in an ELF section of its own so
   that it can be read from the file without loading it. Layout: the
   8-byte tag "KSNVER1\0", then major, minor, release and build as 16-bit
   little-endian numbers. */

#if !defined(KSN_VERSION_MAJOR) || !defined(KSN_VERSION_MINOR) || !defined(KSN_VERSION_RELEASE) || \
    !defined(KSN_VERSION_BUILD)
#error "KSN_VERSION_MAJOR, _MINOR, _RELEASE and _BUILD must be defined"
#endif

#define KSN_LO(v) ((unsigned char)((v)&0xFF))
#define KSN_HI(v) ((unsigned char)(((v) >> 8) & 0xFF))

__attribute__((section(".ksn_version"), used,
               aligned(4))) static const unsigned char ksn_file_version[16] = {
    'K',
    'S',
    'N',
    'V',
    'E',
    'R',
    '1',
    0,
    KSN_LO(KSN_VERSION_MAJOR),
    KSN_HI(KSN_VERSION_MAJOR),
    KSN_LO(KSN_VERSION_MINOR),
    KSN_HI(KSN_VERSION_MINOR),
    KSN_LO(KSN_VERSION_RELEASE),
    KSN_HI(KSN_VERSION_RELEASE),
    KSN_LO(KSN_VERSION_BUILD),
    KSN_HI(KSN_VERSION_BUILD)};
