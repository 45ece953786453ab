#include "UserGuide.h"

namespace {

const char *const style = R"(<style>
body { font-family: sans-serif; max-width: 46em; margin: 2em auto; padding: 0 1em; line-height: 1.45;
       color: #1d2733; background: #f4f7fb; }
h1 { color: #032a53; } h2 { color: #274c7d; border-bottom: 1px solid #abbed1; padding-bottom: .2em; }
code, kbd { background: #e3e9f1; padding: 0 .3em; border-radius: 3px; }
nav a { white-space: nowrap; }
</style>)";

const char *const guide = R"(
<h1>ZELK User Guide</h1>
<p>ZELK takes one instrument out of a song or a video: you pick the file, the instrument to remove and the
format you want, and you get two files back, the instrument on its own and the mix without it.</p>
<nav><a href="#sign-in">Signing in</a> · <a href="#main">Main window</a> · <a href="#processing">Processing a
file</a> · <a href="#archive">Archive</a> · <a href="#settings">Settings</a> · <a href="#account">My Account</a> ·
<a href="#batch">Many files at once</a> · <a href="#command-line">Command line</a> · <a href="#formats">Formats</a> ·
<a href="#files">Where files go</a></nav>

<h2 id="sign-in">Signing in</h2>
<p>The first time, ZELK shows the sign-in screen. Enter your <b>Email</b> and <b>Password</b> and press
<b>SUBMIT</b>. <b>New User? Click Here to Register</b> creates an account (name, e-mail address, password
twice). <b>Forgot Password?</b> sends a six-digit code to your address: enter it, then your new password.
With the local service no mail leaves the computer: the code is printed in the service's window and added to
<code>outbox.txt</code> in its data folder. Once signed in, ZELK remembers you on this computer until you
choose <b>Logout</b> in the help menu.</p>

<h2 id="main">Main window</h2>
<p>Its three large buttons are <b>Select File</b>, <b>Settings</b> and <b>Archive</b>; you can also drop a
file anywhere on the window. <b>My Account</b> is at the top left. The help button at the top right opens
the help menu: Help Desk, Logout, Training Videos and User Guide (this page), Check For Programs Updates,
Logging ON/OFF and Show Logs (the log files, for a support request), Other Orvane Software Products, and
Reset Gui Resizing when the window is scaled. Each button opens a window of its own; closing it brings you
back here.</p>

<h2 id="processing">Processing a file</h2>
<ol>
<li>Click the instrument button under <i>Select the instrument you’d like to have removed</i> and choose
vocals, drums, bass, guitar or piano.</li>
<li>Click <b>Output Format</b> and choose the format of the results.</li>
<li>Press <b>PROCESS</b>. ZELK converts the file to WAV, uploads it (<i>Uploading file: …%</i>), and counts
down while the service separates it. It then downloads both tracks and converts them to your format.</li>
<li><i>Process is Successful!</i> offers <b>Open … In</b> for the instrument and for the mix (in the player
chosen in Settings, or your desktop's default application) and <b>Open Containing Folder</b>.
<b>Isolate Another Instrument</b> processes the same file again without uploading it anew.</li>
</ol>
<p><b>CANCEL</b> stops the run at any stage. The same file processed again with the same instrument within 30
days is ready at once. Results keep the source's tags, their title marked with the part (<i>Song (Vocals)</i>),
and MP3, M4A and FLAC results keep its cover picture.</p>

<h2 id="batch">Many files at once</h2>
<p>Drop several files on the main window, or choose several in <b>Select File</b>: the first opens as above,
the others wait below it (<i>2 more files waiting</i>; click to list them) and follow with the same
instrument and format. A file that fails does not stop the others, and the last screen lists every file
with its two results or its error. <b>CANCEL</b> stops the current file and asks whether to drop the ones
still waiting. Opening files with ZELK from the file manager while it runs adds them to the same queue.</p>

<h2 id="command-line">Command line</h2>
<p>Without any window, with the account last signed in on the computer:
<code>zelk --remove vocals --format mp3 --save ~/Music/Karaoke Song.mp3 Live.mp4</code>.
It prints each step and each result's path; Ctrl+C cancels the file under way. It ends with 0 when every
file succeeded, 1 when any failed, 2 for a wrong use and 3 when nobody is signed in. <code>zelk
--help</code> lists every option.</p>

<h2 id="archive">Archive</h2>
<p>Lists every file you processed during the last 30 days, newest first, with when it was processed and the
date until which the service keeps its results. Each row has a button for the instrument and one for the <b>Mix</b>, and a format
list: a result already in your save folder in that format opens in your player (a play button); otherwise it
is downloaded again and converted (a download button). Each row uses only the files its own song produced, and a format other than the one
on disk is made from the service's original WAV. <b>Open Saved Folder</b> shows the save folder.</p>

<h2 id="settings">Settings</h2>
<p><b>Save File Location</b> (where results go) and <b>Open File Location</b> (where Select File starts);
the <b>Video Output Format</b> and <b>Audio Output Format</b> chosen in advance for each kind of file;
the <b>Instrument to Remove</b> chosen in advance; the players results open in (<b>Opening Video File
In</b>, <b>Opening Audio File In</b>: the default player, or another Orvane program when it is installed);
and <b>Gui Resizing</b>, from 0.60 to 1.50 times, applied with the <b>OK</b> beside it. The <b>OK</b> at the
bottom saves the rest, <b>CANCEL</b> leaves everything as it was, and <b>Restore Default Settings</b> puts
the defaults back.</p>

<h2 id="account">My Account</h2>
<p>Shows your name and e-mail address. <b>EDIT</b> lets you change them (<b>SAVE</b> or <b>DISCARD</b>);
<b>Password Updating</b> asks for your current password and the new one twice, and <b>SUBMIT</b> changes
it.</p>

<h2 id="formats">Formats</h2>
<p>ZELK reads audio files and video files (avi, flv, m4v, mov, mp4, mpg, rm, vob, webm, wmv, mkv).
Results can be audio, <b>MP3, WAV, M4A, AIFF, FLAC, WMA</b>, from any file; from a video they can also be
video, <b>MP4, MKV, MOV, WMV, MPG, WEBM</b>, which keeps the picture and lays the new sound under it.</p>

<h2 id="files">Where files go</h2>
<p>ZELK keeps its files in <code>~/Documents/ZELK</code>:</p>
<ul>
<li><code>Save</code>: the results, unless Settings names another folder:
<code>vocals - My Song.mp3</code> and <code>Mix Without vocals - My Song.mp3</code> (the instrument, then the
name of your file); a number is added when those names are taken, so nothing of yours is replaced.</li>
<li><code>Audio</code>: where Select File starts, unless Settings names another folder.</li>
<li><code>Temp</code>: the WAV files of a run in progress, removed when it ends.</li>
<li><code>Logs</code>: the log files while logging is on, kept 14 days.</li>
<li><code>zelk.ini</code>: your settings.</li>
</ul>
<p>The service keeps your uploads and results 30 days; the Archive fetches them again during that time.</p>
)";

std::string html(const std::string &title, const std::string &body)
{
    return "<!doctype html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>" + title + "</title>"
        + style + "</head><body>" + body + "</body></html>";
}

} // namespace

namespace UserGuide {

std::string page(const std::string &path)
{
    if (path == "/zelk-server/redirect-user-guide.php")
        return html("ZELK User Guide", guide);
    if (path == "/zelk-server/redirect-training-videos.php")
        return html("ZELK User Guide",
            "<p><i>The local service has no videos; this guide walks through the same steps.</i></p>"
                + std::string(guide));
    if (path == "/")
        return html("ZELK local service",
            "<h1>ZELK local service</h1><p>This computer runs the local processing service for ZELK: "
            "accounts, uploads, processing and results stay on it.</p>"
            "<p><a href=\"/zelk-server/redirect-user-guide.php\">ZELK User Guide</a></p>");
    return {};
}

} // namespace UserGuide
