#!/usr/bin/python3
"""A GStreamer RTSP server for the interop tests and the session benchmark.

Serves /now.mp4 on loopback: "?mm=v" (or no query) is H.264 from x264 (avc
stream format, so the SDP carries sprop-parameter-sets), "?mm=a" is G.711
mu-law. The server ignores the query when it looks up a mount, so one media
factory chooses by "mm=".

Prints STARTING pid=<pid> first (so that the test can end it whatever
happens next). Authentication: --auth none, basic or digest (user and password from the
options); --shared serves one media to all sessions. Events go to stdout, one line each, flushed:
  READY <port>
  REQUEST <METHOD> <uri>         for every request the server handles
  RTCP <ssrc>                    RTCP from a client SSRC (a receiver report)
  BYE <ssrc>                     a client SSRC said BYE
  REMOVED <session>              a session ended (TEARDOWN or time-out)
With --session-timeout S every session times out after S s without requests
or receiver reports.
Runs until killed. Needs Debian's /usr/bin/python3 with python3-gi and
gir1.2-gst-rtsp-server-1.0.
"""
import argparse
import os
import sys

print("STARTING pid=%d" % os.getpid(), flush=True)

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtsp", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtsp, GstRtspServer  # noqa: E402

VIDEO = ("( videotestsrc is-live=true pattern=ball ! "
         "video/x-raw,width=320,height=240,framerate=25/1 ! "
         "x264enc tune=zerolatency speed-preset=ultrafast key-int-max=25 ! "
         "video/x-h264,stream-format=avc,profile=baseline ! "
         "rtph264pay name=pay0 pt=96 config-interval=0 )")
AUDIO = ("( audiotestsrc is-live=true wave=sine ! audio/x-raw,rate=8000,channels=1 ! "
         "mulawenc ! rtppcmupay name=pay0 pt=0 )")


def say(*words):
    print(*words, flush=True)


class Factory(GstRtspServer.RTSPMediaFactory):
    def do_create_element(self, url):
        query = url.query or ""
        launch = AUDIO if "mm=a" in query.split("&") else VIDEO
        return Gst.parse_launch(launch)


def watch_rtcp(media):
    for i in range(media.n_streams()):
        session = media.get_stream(i).get_rtpsession()
        if session is None:
            continue
        # Only sources that send RTCP but no RTP are clients.
        session.connect("on-ssrc-active",
                        lambda s, src: None if src.get_property("is-sender")
                        else say("RTCP", src.get_property("ssrc")))
        session.connect("on-bye-ssrc", lambda s, src: say("BYE", src.get_property("ssrc")))


def on_client(server, client):
    for method in ("describe", "setup", "play", "teardown", "options"):
        client.connect(method + "-request",
                       lambda c, ctx, m=method: say("REQUEST", m.upper(), ctx.uri.get_request_uri()))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--auth", choices=("none", "basic", "digest"), default="none")
    parser.add_argument("--user", default="user")
    parser.add_argument("--password", default="pw")
    parser.add_argument("--shared", action="store_true", help="one media for all sessions")
    parser.add_argument("--session-timeout", type=int, default=0, help="seconds; 0: default")
    args = parser.parse_args()

    Gst.init(None)
    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service(str(args.port))
    factory = Factory()
    factory.set_shared(args.shared)
    # The streams have their RTP sessions once the media is prepared.
    factory.connect("media-configure",
                    lambda f, media: media.connect("prepared", watch_rtcp))
    if args.auth != "none":
        auth = GstRtspServer.RTSPAuth()
        token = GstRtspServer.RTSPToken()
        token.set_string("media.factory.role", "user")
        if args.auth == "basic":
            auth.set_supported_methods(GstRtsp.RTSPAuthMethod.BASIC)
            auth.add_basic(GstRtspServer.RTSPAuth.make_basic(args.user, args.password), token)
        else:
            auth.set_supported_methods(GstRtsp.RTSPAuthMethod.DIGEST)
            auth.add_digest(args.user, args.password, token)
        server.set_auth(auth)
        factory.add_role_from_structure(Gst.Structure.from_string(
            "user, media.factory.access=(boolean)true, media.factory.construct=(boolean)true")[0])
    server.get_mount_points().add_factory("/now.mp4", factory)
    server.connect("client-connected", on_client)
    pool = server.get_session_pool()
    pool.connect("session-removed", lambda p, session: say("REMOVED", session.get_sessionid()))
    if args.session_timeout > 0:
        server.connect("client-connected", lambda s, client: client.connect(
            "new-session", lambda c, session: session.set_timeout(args.session_timeout)))
        # Expired sessions are only noticed when the pool is cleaned up.
        GLib.timeout_add(500, lambda: pool.cleanup() >= 0)
    if server.attach(None) == 0:
        sys.exit("cannot listen on port %d" % args.port)
    say("READY", args.port)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
