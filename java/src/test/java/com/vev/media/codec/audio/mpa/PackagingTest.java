package com.vev.media.codec.audio.mpa;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotNull;
import static org.junit.Assert.assertTrue;

import java.io.DataInputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Collections;
import java.util.jar.Attributes;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.Test;

/** What the build ships: one version everywhere, Java 11 class files, the Maven repository folder. */
public class PackagingTest {
    private static final Path BUILD = Paths.get(System.getProperty("rovaz.build", "build"));
    private static final String VERSION = MpegAudio.version();

    @Test
    public void jarManifestTellsTheVersionAndModuleName() throws IOException {
        assertTrue(VERSION, VERSION.matches("\\d+\\.\\d+\\.\\d+"));
        try (JarFile jar = new JarFile(BUILD.resolve("rovaz.jar").toFile())) {
            Attributes main = jar.getManifest().getMainAttributes();
            assertEquals(VERSION, main.getValue(Attributes.Name.IMPLEMENTATION_VERSION));
            assertEquals("rovaz", main.getValue(Attributes.Name.IMPLEMENTATION_TITLE));
            assertNotNull(main.getValue(Attributes.Name.IMPLEMENTATION_VENDOR));
            assertEquals("com.vev.media.rovaz", main.getValue("Automatic-Module-Name"));
            assertEquals(MpegAudioTool.class.getName(), main.getValue(Attributes.Name.MAIN_CLASS));
        }
        // The library loaded here is of the same version, else NativeLoader would have refused it.
        new MpegAudio().close();
    }

    @Test
    public void everyClassIsForJava11() throws IOException {
        for (String name : new String[] {"rovaz.jar", "rovaz-tests.jar"}) {
            int classes = 0;
            try (JarFile jar = new JarFile(BUILD.resolve(name).toFile())) {
                for (JarEntry e : Collections.list(jar.entries())) {
                    if (!e.getName().endsWith(".class")) {
                        continue;
                    }
                    try (DataInputStream in = new DataInputStream(jar.getInputStream(e))) {
                        assertEquals(e.getName(), 0xCAFEBABE, in.readInt());
                        in.readUnsignedShort();   // minor
                        assertEquals(name + " " + e.getName(), 55, in.readUnsignedShort());
                    }
                    classes++;
                }
            }
            assertTrue(name, classes > 0);
        }
    }

    @Test
    public void mavenFolderHoldsTheJarSourcesJavadocAndPom() throws IOException {
        Path artifact = BUILD.resolve("maven/com/vev/media/rovaz");
        Path base = artifact.resolve(VERSION).resolve("rovaz-" + VERSION);
        assertArrayEquals(Files.readAllBytes(BUILD.resolve("rovaz.jar")),
                Files.readAllBytes(Paths.get(base + ".jar")));
        try (JarFile sources = new JarFile(base + "-sources.jar");
                JarFile javadoc = new JarFile(base + "-javadoc.jar")) {
            assertNotNull(sources.getEntry("com/vev/media/codec/audio/mpa/MpegAudio.java"));
            assertNotNull(sources.getEntry("com/vev/media/codec/audio/mpa/BuildVersion.java"));
            assertNotNull(javadoc.getEntry("com/vev/media/codec/audio/mpa/MpegAudio.html"));
            // Public API only.
            assertEquals(null, javadoc.getEntry("com/vev/media/codec/audio/mpa/NativeLoader.html"));
        }
        String pom = new String(Files.readAllBytes(Paths.get(base + ".pom")), StandardCharsets.UTF_8);
        assertEquals("com.vev.media", element(pom, "groupId"));
        assertEquals("rovaz", element(pom, "artifactId"));
        assertEquals(VERSION, element(pom, "version"));
        assertEquals("Apache-2.0", element(pom, "name", pom.indexOf("<license>")));
        String metadata = new String(Files.readAllBytes(artifact.resolve("maven-metadata.xml")),
                StandardCharsets.UTF_8);
        assertEquals("rovaz", element(metadata, "artifactId"));
        assertEquals(VERSION, element(metadata, "release"));
    }

    /** The text of the first element named tag at or after from. */
    private static String element(String xml, String tag, int from) {
        Matcher m = Pattern.compile("<" + tag + ">([^<]*)</" + tag + ">").matcher(xml);
        assertTrue(tag, m.find(from));
        return m.group(1).trim();
    }

    private static String element(String xml, String tag) {
        return element(xml, tag, 0);
    }
}
