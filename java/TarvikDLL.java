/**
 * Sends commands to toy robots through the tarvik native library
 * (libtarvikjava.so on Linux, tarvikjava.dll on Windows).
 *
 * Calling order: TarvikOpen first (it also sets up the timing), then any
 * number of TarvikSend calls on the handle it returned, with TarvikUseMMTimer
 * at any point between them, and TarvikClose last. TarvikDecode needs nothing
 * before it. Any thread may call at any time: the library takes one call at
 * a time, so a send from another thread waits for the frame being sent.
 *
 * Models: 1 MekTarvik v1 (8-bit codes), 2 MekTarvik V2 / Dravix, 3 Fuzlo.
 *
 * Try it: java -Djava.library.path=build -cp build/java TarvikDLL stop 1 rec.vcd
 */
public class TarvikDLL {
    static {
        System.loadLibrary("tarvikjava");
    }

    /** Opens a port ("/dev/ttyUSB0", "COM2", or "name.vcd" to record); -1 on failure. */
    public static native long TarvikOpen(String port);

    /** Sends one frame; noWakeup 0 first sends the wake-up byte and waits 100 ms. */
    public static native int TarvikSend(long port, int code, int model, int noWakeup);

    /** The code of a command name under a model, 0 when it is not known. */
    public static native int TarvikDecode(String name, int model);

    /** Closes the port; non-zero on success. */
    public static native int TarvikClose(long port);

    /** Non-zero: wait for a 1 ms periodic timer instead of busy-waiting. */
    public static native int TarvikUseMMTimer(int on);

    public static void main(String[] args) {
        if (args.length < 1) {
            System.out.println("usage: TarvikDLL command [model [port]]");
            return;
        }
        int model = args.length > 1 ? Integer.parseInt(args[1]) : 1;
        int code = TarvikDecode(args[0], model);
        System.out.println(args[0] + " = 0x" + Integer.toHexString(code));
        if (code == 0 || args.length < 3)
            return;
        long port = TarvikOpen(args[2]);
        if (port == -1) {
            System.out.println("cannot open " + args[2]);
            return;
        }
        TarvikSend(port, code, model, 0);
        TarvikClose(port);
        System.out.println("sent to " + args[2]);
    }
}
