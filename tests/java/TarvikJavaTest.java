// Drives the native library through TarvikDLL in a real JVM. Prints the
// failures and a closing "N passed, N failed" line; nothing else.
// Arguments: a pseudo-terminal's name and a recording path.
public class TarvikJavaTest {
    static int passed, failed;

    static void check(boolean ok, String what) {
        if (ok) {
            passed++;
        } else {
            failed++;
            System.out.println("FAILED: " + what);
        }
    }

    static void decodes(String name, int model, int code) {
        int got = TarvikDLL.TarvikDecode(name, model);
        check(got == code, "decode " + name + " model " + model + ": 0x" + Integer.toHexString(got));
    }

    static long millis(long since) { return (System.nanoTime() - since) / 1000000; }

    public static void main(String[] args) {
        decodes("stop", 1, 0x8E);
        decodes("stop", 2, 0x3AA);
        decodes("stop", 3, 0x28E);
        decodes("stop", 0, 0x28E);
        decodes("jump", 0, 0x2E6);
        decodes("jump", 7, 0x2E6);
        decodes("jump", 1, 0);
        decodes("D0_head_and_upper_body", 2, 0x310);
        decodes("D3_head_and_upper_body", 2, 0x313);
        decodes("-", 1, 0xFF);
        decodes("Stop", 1, 0);
        decodes("no_such_command", 2, 0);
        decodes("", 3, 0);
        decodes("D", 2, 0);
        decodes("sleep", 3, 0x2C1);
        decodes("walk_forward", 1, 0x86);
        decodes("st\u00f6p", 1, 0);
        check(TarvikDLL.TarvikDecode(null, 1) == 0, "decode null");
        check(TarvikDLL.TarvikOpen(null) == -1, "open null");
        check(TarvikDLL.TarvikOpen("/nonexistent/tty") == -1, "open missing port");

        // A session on the pseudo-terminal: the C++ side reads what arrives.
        long port = TarvikDLL.TarvikOpen(args[0]);
        check(port >= 0, "open " + args[0]);
        for (int i = 0; i < 2; i++) {
            long start = System.nanoTime();
            int restored = TarvikDLL.TarvikSend(port, 0x86, 1, 0);
            long took = millis(start);
            check(took >= 100 + 27, "wake-up pause and frame took " + took + " ms");
            check(restored != 0, "priority restored");
        }
        long start = System.nanoTime();
        TarvikDLL.TarvikSend(port, 0x3AA, 2, 1);
        check(millis(start) < 100, "no wake-up pause with the flag set");
        check(TarvikDLL.TarvikUseMMTimer(1) == 1, "mm timer flag");
        TarvikDLL.TarvikSend(port, 0x28E, 3, 1);
        check(TarvikDLL.TarvikUseMMTimer(0) == 0, "mm timer off");
        check(TarvikDLL.TarvikClose(port) != 0, "close");
        // Closed, or never opened: refused, nothing sent, nothing closed.
        check(TarvikDLL.TarvikClose(port) == 0, "close twice");
        check(TarvikDLL.TarvikSend(port, 0x86, 1, 1) == 0, "send on a closed port");
        check(TarvikDLL.TarvikSend(1, 0x86, 1, 1) == 0, "send on standard output");
        check(TarvikDLL.TarvikSend(-1, 0x86, 1, 1) == 0, "send on a failed open");
        check(TarvikDLL.TarvikClose(2) == 0, "close standard error");

        // A recording through the library.
        long rec = TarvikDLL.TarvikOpen(args[1]);
        check(rec >= 0, "open recording");
        TarvikDLL.TarvikSend(rec, 0xC4, 1, 0);
        check(TarvikDLL.TarvikClose(rec) != 0, "close recording");

        System.out.println(passed + " passed, " + failed + " failed");
        System.exit(failed == 0 ? 0 : 1);
    }
}
