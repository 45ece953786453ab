import QtQuick
import QtTest
import "qrc:/qml"

// The Archive window's document as its window class drives it: the list in through `updateFiles`,
// the rows' choices out through its signals.
Item {
    id: root
    width: 540
    height: 500

    property Item doc: null

    Component {
        id: archiveDocument
        Archive { width: root.width; height: root.height }
    }

    SignalSpy { id: formatSpy; target: root.doc; signalName: "changedFormat" }
    SignalSpy { id: clickSpy; target: root.doc; signalName: "operateFile" }

    TestCase {
        name: "Archive"
        when: windowShown

        function init() {
            doc = createTemporaryObject(archiveDocument, root)
            verify(doc !== null)
            doc.isProcessing = false
            formatSpy.clear()
            clickSpy.clear()
        }

        function argumentsOf(spy, call) {
            return Array.prototype.slice.call(spy.signalArguments[call])
        }

        function songs(count) {
            var files = []
            for (var i = 0; i < count; ++i)
                files.push({ ai_id: i, name: "song", instrument: "vocals", extension: "mp3", deleted: "2027-01-05",
                             local_file_path: "/music/" + i + "/song.mp3", processed: "", isVideo: false,
                             btnInstrument: "download", btnMix: "download" })
            return files
        }

        // A row that the list makes again after a scroll still shows, and acts on, what the user chose.
        function test_choiceSurvivesScroll() {
            doc.updateFiles(songs(40))
            // Every row asks at once for the buttons of the format it starts at.
            compare(formatSpy.count, 40)
            compare(argumentsOf(formatSpy, 0), [0, "mp3"])
            var list = findChild(doc, "songList")
            waitForRendering(list)
            var formats = findChild(list, "format_2")
            mouseClick(formats)
            tryCompare(formats.popup, "opened", true)
            mouseClick(formats.popup.contentItem.itemAtIndex(formats.find("FLAC")))
            compare(argumentsOf(formatSpy, 40), [2, "flac"])
            compare(list.model.get(2).chosen, "FLAC")

            list.positionViewAtEnd()
            waitForRendering(list)
            // Rows out of sight (but the list's current one) are released at the next turn of the event loop.
            wait(0)
            compare(findChild(list, "format_2"), null, "the row was not made again")
            list.positionViewAtBeginning()
            waitForRendering(list)
            compare(findChild(list, "format_2").currentText, "FLAC")
            mouseClick(findChild(list, "instrumentButton_2"))
            compare(argumentsOf(clickSpy, 0), [2, false, "flac"])
        }
    }
}
