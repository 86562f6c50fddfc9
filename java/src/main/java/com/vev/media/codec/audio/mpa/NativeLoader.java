package com.vev.media.codec.audio.mpa;

import java.io.File;
import java.io.FileInputStream;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.URISyntaxException;
import java.net.URL;
import java.nio.channels.Channels;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.BasicFileAttributes;
import java.nio.file.attribute.FileAttribute;
import java.nio.file.attribute.PosixFileAttributes;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.CodeSource;
import java.util.EnumSet;
import java.util.Locale;
import java.util.Set;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;
import java.util.zip.CRC32;

/**
 * Loads librovaz, once: the first librovaz.so on java.library.path when there is one, else the copy
 * carried inside the jar. That copy is extracted once into a cache folder of the user's
 * (java.io.tmpdir/rovaz-USER, or the folder the system property rovaz.cache names), under a name made
 * of the version and the jar entry's size and CRC-32, and loaded from there by every later JVM for as
 * long as its size and CRC-32 still match. A folder that is not the user's own, or that others may
 * write, is not used, nor is a cached copy that does not load (another class loader of this JVM has
 * it, or the folder is mounted noexec): the copy then goes into a fresh folder that only the owner may
 * enter, deleted, folder and all, as soon as it is loaded. The library must be of the jar's version.
 *
 * <p>A failure is remembered: every later {@link #load()} throws an UnsatisfiedLinkError with the same
 * message, which says what was tried and why it failed.
 */
final class NativeLoader {
    private static final String LIBRARY = System.mapLibraryName("rovaz");
    /** The system property that names the cache folder. */
    static final String CACHE_PROPERTY = "rovaz.cache";

    private static volatile boolean loaded;
    // Both guarded by the class.
    private static boolean tried;
    private static UnsatisfiedLinkError failure;

    private NativeLoader() {
    }

    /** Loads the library unless it is loaded; throws, every time, when it cannot be. */
    static void load() {
        if (!loaded) {
            loadOnce();
        }
    }

    /** Whether the library is loaded, or loads now; never throws for a library that cannot be used. */
    static boolean isAvailable() {
        try {
            load();
            return true;
        } catch (UnsatisfiedLinkError e) {
            return false;
        }
    }

    /** Why the library cannot be used (after {@link #isAvailable()} said false), or null. */
    static synchronized String failure() {
        return failure == null ? null : failure.getMessage();
    }

    private static synchronized void loadOnce() {
        if (!tried) {
            tried = true;
            try {
                loadLibrary();
                loaded = true;
            } catch (UnsatisfiedLinkError | RuntimeException e) {
                failure = e instanceof UnsatisfiedLinkError ? (UnsatisfiedLinkError) e
                        : (UnsatisfiedLinkError) new UnsatisfiedLinkError("cannot load librovaz: " + e).initCause(e);
            }
        }
        if (!loaded) {
            // A new error each time, for the caller's stack, caused by the first.
            UnsatisfiedLinkError e = new UnsatisfiedLinkError(failure.getMessage());
            e.initCause(failure);
            throw e;
        }
    }

    private static void loadLibrary() {
        String path = System.getProperty("java.library.path", "");
        for (String dir : path.split(File.pathSeparator, -1)) {
            File file = new File(dir.isEmpty() ? "." : dir, LIBRARY);
            if (file.isFile()) {
                String name = file.getAbsolutePath();
                try {
                    System.load(name);
                } catch (UnsatisfiedLinkError e) {
                    throw (UnsatisfiedLinkError) new UnsatisfiedLinkError("cannot load librovaz: " + name
                            + " (found on java.library.path) does not load: " + e.getMessage()).initCause(e);
                }
                checkVersion(name + " (found on java.library.path)",
                        "put the librovaz.so of this jar there, or take it off the path to use the jar's own copy");
                return;
            }
        }
        loadFromJar("no " + LIBRARY + " on java.library.path (" + path + ")");
    }

    private static void loadFromJar(String notOnPath) {
        String resource = resource();
        File jar = ownJar();
        Throwable cacheFailure = null;   // then a private copy, as for a folder that is not safe
        if (jar != null) {
            Path cached = null;
            try {
                cached = cached(jar, resource, cacheFolder());
            } catch (IOException e) {
                cacheFailure = e;
            }
            if (cached != null) {
                try {
                    System.load(cached.toString());
                    cacheFailure = null;
                } catch (UnsatisfiedLinkError e) {
                    // A folder mounted noexec, or the same file loaded by another class loader of this JVM.
                    cacheFailure = e;
                }
                if (cacheFailure == null) {
                    checkVersion("the jar's " + resource + " (cached as " + cached + ")",
                            "the jar was assembled from another build");
                    return;
                }
            }
        }
        Path file;
        try {
            file = extract(resource);
        } catch (IOException e) {
            UnsatisfiedLinkError error = new UnsatisfiedLinkError("cannot load librovaz: " + notOnPath
                    + ", and extracting the jar's " + resource + " into java.io.tmpdir ("
                    + System.getProperty("java.io.tmpdir") + ") failed: " + e);
            error.initCause(e);
            if (cacheFailure != null) {
                error.addSuppressed(cacheFailure);
            }
            throw error;
        }
        if (file == null) {
            throw new UnsatisfiedLinkError("cannot load librovaz: " + notOnPath + ", and the jar has no library"
                    + " for this platform, " + platform() + " (it has " + platformsInJar()
                    + "); build one from source for it, see the README");
        }
        try {
            System.load(file.toString());
        } catch (UnsatisfiedLinkError e) {
            if (cacheFailure != null) {
                e.addSuppressed(cacheFailure);
            }
            throw e;
        } finally {
            delete(file);   // Linux keeps a loaded library mapped after its file is gone
        }
        checkVersion("the jar's " + resource, "the jar was assembled from another build");
    }

    /** The cache folder: the system property rovaz.cache, else java.io.tmpdir/rovaz-USER. */
    static Path cacheFolder() {
        String dir = System.getProperty(CACHE_PROPERTY, "");
        if (!dir.isEmpty()) {
            return Path.of(dir);
        }
        // A user name as a file name: letters, digits, '.', '-' and '_' kept, anything else '_'.
        StringBuilder name = new StringBuilder("rovaz-");
        for (char c : System.getProperty("user.name", "").toCharArray()) {
            name.append(c < 128 && (Character.isLetterOrDigit(c) || c == '.' || c == '-') ? c : '_');
        }
        return Path.of(System.getProperty("java.io.tmpdir"), name.toString());
    }

    /**
     * The jar file this class was loaded from; null when it came from elsewhere (a folder, a jar inside
     * another), where the library is found as a resource and not cached.
     */
    private static File ownJar() {
        try {
            CodeSource code = NativeLoader.class.getProtectionDomain().getCodeSource();
            URL url = code == null ? null : code.getLocation();
            if (url == null || !url.getProtocol().equals("file")) {
                return null;
            }
            File file = new File(url.toURI());
            return file.isFile() ? file : null;
        } catch (URISyntaxException | IllegalArgumentException | SecurityException e) {
            return null;
        }
    }

    /**
     * The jar's library in the cache folder, extracted there first when it is missing or its size or
     * CRC-32 differ from the jar entry's; null when the folder is not safe to load from (not the user's,
     * or others may write it) or the jar has no such entry. The central directory of the jar, which the
     * class loader has read already, gives the entry's size and CRC-32.
     *
     * <p>A copy is written under a name of its own, checked, then renamed atomically into place, so that
     * a JVM never loads a file another one is still writing, and any number may extract at once.
     */
    private static Path cached(File jarFile, String resource, Path dir) throws IOException {
        try (JarFile jar = new JarFile(jarFile, false)) {
            JarEntry entry = jar.getJarEntry(resource);
            if (entry == null || entry.getSize() < 0 || entry.getCrc() < 0 || !isOwnFolder(dir)) {
                return null;
            }
            long size = entry.getSize();
            long crc = entry.getCrc();
            int dot = LIBRARY.lastIndexOf('.');
            Path file = dir.resolve(LIBRARY.substring(0, dot) + "-" + BuildVersion.VERSION + "-" + size + "-"
                    + Long.toHexString(crc) + LIBRARY.substring(dot));
            if (!matches(file, size, crc)) {
                copy(jar, entry, file);
            }
            return file;
        }
    }

    /** Writes a jar entry to a file of the cache folder, through a file of its own renamed into place. */
    private static void copy(JarFile jar, JarEntry entry, Path file) throws IOException {
        long size = entry.getSize();
        long crc = entry.getCrc();
        Path dir = file.getParent();
        Path part = null;
        try (InputStream in = jar.getInputStream(entry)) {
            // Unique among JVMs by an exclusive create; the clock only makes a clash unlikely.
            for (long n = System.nanoTime(); part == null; n++) {
                File f = dir.resolve("." + file.getFileName() + "." + Long.toHexString(n)).toFile();
                if (f.createNewFile()) {
                    part = f.toPath();
                }
            }
            if (isPosix()) {
                // Made by java.io, as the umask has it: a channel would cost a native library more to load.
                Files.setPosixFilePermissions(part, PosixFilePermissions.fromString("rw-------"));
            }
            CRC32 written = new CRC32();
            long bytes = 0;
            try (OutputStream out = new FileOutputStream(part.toFile())) {
                byte[] b = new byte[1 << 16];
                for (int n; (n = in.read(b)) > 0; ) {
                    out.write(b, 0, n);
                    written.update(b, 0, n);
                    bytes += n;
                }
            }
            if (bytes != size || written.getValue() != crc) {
                throw new IOException("the jar's " + entry + " reads as " + bytes + " bytes of CRC-32 "
                        + Long.toHexString(written.getValue()) + ", not the " + size + " of "
                        + Long.toHexString(crc) + " it declares");
            }
            try {
                Files.move(part, file, StandardCopyOption.ATOMIC_MOVE);
            } catch (IOException e) {
                if (!matches(file, size, crc)) {   // else another JVM's copy took the place, and is used
                    throw e;
                }
            }
        } finally {
            if (part != null) {
                Files.deleteIfExists(part);
            }
        }
    }

    /**
     * Whether a folder, made now (owner only) when it is missing, is the user's own and written by no
     * one else, itself and not through a link; always true where the file system has no POSIX owners.
     */
    private static boolean isOwnFolder(Path dir) throws IOException {
        if (!isPosix()) {
            Files.createDirectories(dir);
            return Files.isDirectory(dir, LinkOption.NOFOLLOW_LINKS);
        }
        PosixFileAttributes a;
        try {
            a = Files.readAttributes(dir, PosixFileAttributes.class, LinkOption.NOFOLLOW_LINKS);
        } catch (NoSuchFileException e) {
            try {
                Files.createDirectory(dir, ownerOnly("rwx------"));
            } catch (FileAlreadyExistsException raced) {
                // another JVM's, just made: checked as any other
            }
            a = Files.readAttributes(dir, PosixFileAttributes.class, LinkOption.NOFOLLOW_LINKS);
        }
        Set<PosixFilePermission> p = a.permissions();
        if (!a.isDirectory() || p.contains(PosixFilePermission.GROUP_WRITE) || p.contains(PosixFilePermission.OTHERS_WRITE)) {
            return false;
        }
        return a.owner().equals(dir.getFileSystem().getUserPrincipalLookupService()
                .lookupPrincipalByName(System.getProperty("user.name")));
    }

    /** Whether a regular file (not a link) has this size and CRC-32. */
    private static boolean matches(Path file, long size, long crc) throws IOException {
        BasicFileAttributes a;
        try {
            a = Files.readAttributes(file, BasicFileAttributes.class, LinkOption.NOFOLLOW_LINKS);
        } catch (IOException e) {
            return false;   // not there
        }
        if (!a.isRegularFile() || a.size() != size) {
            return false;
        }
        CRC32 sum = new CRC32();
        try (InputStream in = new FileInputStream(file.toFile())) {
            byte[] b = new byte[1 << 16];
            for (int n; (n = in.read(b)) > 0; ) {
                sum.update(b, 0, n);
            }
        }
        return sum.getValue() == crc;
    }

    /** Where the jar holds the library for this platform. */
    static String resource() {
        return "native/" + platform() + "/" + LIBRARY;
    }

    /**
     * Copies a resource of the jar into a new file in a new folder of java.io.tmpdir, both only for the
     * owner (where the file system has POSIX permissions); null when the jar does not hold it.
     */
    static Path extract(String resource) throws IOException {
        InputStream in = NativeLoader.class.getResourceAsStream("/" + resource);
        if (in == null) {
            return null;
        }
        Path file = null;
        try (in) {
            file = Files.createTempDirectory("rovaz", ownerOnly("rwx------")).resolve(LIBRARY);
            try (OutputStream out = Channels.newOutputStream(Files.newByteChannel(file,
                    EnumSet.of(StandardOpenOption.CREATE_NEW, StandardOpenOption.WRITE), ownerOnly("rw-------")))) {
                in.transferTo(out);
            }
            return file;
        } catch (IOException | RuntimeException e) {
            if (file != null) {
                delete(file);
            }
            throw e;
        }
    }

    /** Deletes an extracted file and its folder; at exit when that fails. */
    static void delete(Path file) {
        Path dir = file.getParent();
        try {
            Files.deleteIfExists(file);
            Files.deleteIfExists(dir);
        } catch (IOException e) {
            // At exit the last registered goes first: the file, then its folder.
            dir.toFile().deleteOnExit();
            file.toFile().deleteOnExit();
        }
    }

    /** Refuses a loaded library whose version is not the jar's. */
    private static void checkVersion(String library, String remedy) {
        String version;
        try {
            version = nVersion();
        } catch (UnsatisfiedLinkError e) {
            version = null;   // a library older than the version check
        }
        if (!BuildVersion.VERSION.equals(version)) {
            throw new UnsatisfiedLinkError("cannot use librovaz: " + library + " is "
                    + (version == null ? "of a version that does not tell it" : "version " + version)
                    + ", but this jar needs version " + BuildVersion.VERSION + ": " + remedy);
        }
    }

    private static boolean isPosix() {
        return FileSystems.getDefault().supportedFileAttributeViews().contains("posix");
    }

    /** Owner-only permissions for a new file or folder, where the file system has POSIX permissions. */
    private static FileAttribute<?>[] ownerOnly(String permissions) {
        if (!isPosix()) {
            return new FileAttribute<?>[0];
        }
        return new FileAttribute<?>[] {PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString(permissions))};
    }

    /** This JVM's platform as the jar names its library folders: "linux-x86_64", "windows-x86_64", ... */
    private static String platform() {
        return platform(System.getProperty("os.name", ""), System.getProperty("os.arch", ""));
    }

    static String platform(String osName, String osArch) {
        String os = osName.toLowerCase(Locale.ROOT);
        if (os.startsWith("linux")) {
            os = "linux";
        } else if (os.startsWith("windows")) {
            os = "windows";
        } else if (os.startsWith("mac") || os.startsWith("darwin")) {
            os = "macos";
        } else {
            os = os.replace(' ', '_');
        }
        String arch = osArch.toLowerCase(Locale.ROOT);
        if (arch.equals("amd64") || arch.equals("x86-64")) {
            arch = "x86_64";
        } else if (arch.equals("arm64")) {
            arch = "aarch64";
        }
        return os + "-" + arch;
    }

    /** The platforms the jar has a library for, of those it may have. */
    static String platformsInJar() {
        StringBuilder s = new StringBuilder();
        for (String p : new String[] {"linux-x86_64", "linux-aarch64", "windows-x86_64", "macos-x86_64",
            "macos-aarch64"}) {
            String name = p.startsWith("windows") ? "rovaz.dll" : p.startsWith("macos") ? "librovaz.dylib"
                    : "librovaz.so";
            if (NativeLoader.class.getResource("/native/" + p + "/" + name) != null) {
                s.append(s.length() > 0 ? ", " : "").append(p);
            }
        }
        return s.length() > 0 ? s.toString() : "none";
    }

    /** The library's version: the CMake project's version it was built as. */
    private static native String nVersion();
}
