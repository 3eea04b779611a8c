#include "HelpText.h"

namespace vandrel::devsim {

std::string helpText() {
    return R"HELP(Usage: vandrel-devsim [OPTION]...
Simulates one networked device for Vandrel: it answers the discovery broadcast on
UDP port 33300 and offers a telnet console on TCP port 23 with an IP configuration
dialogue (type # in the session). Use it for training, for trying Vandrel without
hardware, and in tests. Stop it with Ctrl-C.

When ready it prints one line on standard output:
  vandrel-devsim: ready discovery=ADDR:PORT telnet=ADDR:PORT   (telnet=off with --refuse)
Activity (requests, sessions) is logged on standard error. Options take their value
as the next word or after "=" (--status="NOT CONNECTED"); a later option overrides an
earlier one. Port 23 needs root; without it use e.g. --telnet-port 2323.

Where it listens:
  --bind ADDR            local IPv4 address for both sockets (default 0.0.0.0)
  --discovery-port P     UDP port of the responder (default 33300; 0 picks a free one)
  --telnet-port P        TCP port of the telnet console (default 23; 0 picks a free one)

What the discovery reply says (0x02 Device 0x1F S/N 0x1F IP 0x1F Mac 0x1F Status 0x04):
  --device TEXT          Device field (default VD-100)
  --serial TEXT          S/N field (default VS-000001)
  --ip TEXT              IP field (default auto: the address of the interface the
                         request arrived on); after a saved # dialogue, the new address
  --mac TEXT             Mac field (default auto: 02:00 followed by the IP's four bytes)
  --status TEXT          Status field (default "not connected"; anything else means
                         Vandrel lists the device but will not connect to it); while
                         a telnet session is open it reads "connected", like a device
                         that takes one session at a time
  --static-status        Status stays as --status says, sessions or not
  --netmask MASK         netmask the # dialogue starts from (default 255.255.255.0)
  --gateway ADDR         gateway the # dialogue starts from (default 0.0.0.0, none)

Faulty replies, for testing how Vandrel copes:
  --reply-count N        answer each request N times (default 1; 0 stays silent)
  --devices N            answer as N devices (1 to 10000; default 1), spread over a
                         second: device k has the k-th address after --ip's, its own
                         S/N (--serial-k), a name --device-n and, with an automatic
                         Mac, the Mac of its address (many-device benchmarks)
  --delay MS             wait MS milliseconds before replying
  --fields 4|6           leave out Status, or add a sixth field "extra"
  --bad-start            first byte 0x01 instead of 0x02 (Vandrel ignores the reply)
  --bad-end              last byte 0x03 instead of 0x04 (Vandrel shows "invalid string")
  --oversize             pad the S/N field with X until the reply is 2049 bytes
  --exact-2048           pad the S/N field with X until the reply is exactly 2048 bytes
  --raw-reply HEX        send exactly these bytes as the reply, e.g. 0204 or 02;
                         an empty HEX sends an empty datagram

Telnet console:
  --telnet-options LIST  option requests sent on connect, comma separated items
                         do:N, dont:N, will:N, wont:N or raw:HEX; "none" sends nothing
                         (default do:24,will:1,will:3,do:23 = terminal type, echo,
                         suppress go-ahead, send location)
  --refuse               no telnet listener: connections are refused
  --close-after S        the device closes each session S seconds after it opened
                         (decimals allowed, e.g. 0.5)
  --answer-delay MS      the console answers (echo, prompts, results) MS milliseconds
                         after the typed input, as a slow device does
  --hung-dialogue        # is echoed, then the device hangs: the IP configuration
                         dialogue never starts and nothing typed is answered
  --reset-after BYTES    the device resets each session (a TCP reset; what it had not
                         sent yet is lost) once it has sent BYTES bytes in it
  --flood BYTES          send BYTES bytes of numbered 80-byte text lines right after
                         the option requests (throughput tests), then the banner
  --record FILE          write every byte received from telnet clients to FILE
                         (emptied at start; several sessions interleave)

In a session the device asks for the terminal type, shows a banner with the terminal
type and location the client reported, echoes what is typed and treats CR LF as the
end of a line. Commands: # (IP configuration: IP address, netmask, gateway, each
checked, then a summary and "Save these settings? (y/n)"), show, help, exit.
Saved settings are kept until the simulator stops; the next discovery reply carries
the new IP address.

Examples:
  vandrel-devsim --telnet-port 2323          a device on this computer; try it with
                                             telnet localhost 2323
  vandrel-devsim --bind 127.0.0.1 --discovery-port 0 --telnet-port 0 --reply-count 2 --bad-end
                                             a faulty device on free loopback ports
Several devices at once, each with its own address, and Vandrel among them:
  sudo scripts/run --lab 5       (or scripts/lab up 5; see scripts/lab --help)
)HELP";
}

}  // namespace vandrel::devsim
