import QtQuick
import Lumora.Rooms
import Lumora.Theme

// Every piece the conversation room places, side by side with the values a test hands in:
// the shared and the seat gauges at four pairs of counts, the two kinds of chip, a seat's
// pattern summary, three talk-share rings, the live arc and both partner corners.
Item {
    id: root

    // [warm, hard] pairs, one per gauge size.
    required property var counts
    required property list<transcriptChip> protestChips
    required property list<transcriptChip> pilingChips
    required property roomMoments summaryMoments
    required property var shares
    required property roomMoments arcMoments
    required property real arcDuration
    // The room the corners sit in: its moments, each seat's statistics and the step's starter.
    required property roomMoments roomMoments
    required property var leftStats
    required property var rightStats
    required property string starter

    Row {
        x: 24
        y: 24
        spacing: 28

        Column {
            spacing: 10

            BalanceGauge {
                objectName: "shared0"
                warm: root.counts[0][0]
                hard: root.counts[0][1]
            }
            BalanceGauge {
                objectName: "shared1"
                warm: root.counts[1][0]
                hard: root.counts[1][1]
            }
            BalanceGauge {
                objectName: "shared2"
                warm: root.counts[2][0]
                hard: root.counts[2][1]
            }
            BalanceGauge {
                objectName: "shared3"
                warm: root.counts[3][0]
                hard: root.counts[3][1]
            }
            Grid {
                columns: 2
                spacing: 12

                PersonalBalanceGauge {
                    objectName: "personal0"
                    warm: root.counts[0][0]
                    hard: root.counts[0][1]
                }
                PersonalBalanceGauge {
                    objectName: "personal1"
                    warm: root.counts[1][0]
                    hard: root.counts[1][1]
                }
                PersonalBalanceGauge {
                    objectName: "personal2"
                    warm: root.counts[2][0]
                    hard: root.counts[2][1]
                }
                PersonalBalanceGauge {
                    objectName: "personal3"
                    warm: root.counts[3][0]
                    hard: root.counts[3][1]
                }
            }
        }
        Column {
            width: 300
            spacing: 22

            TranscriptChips {
                objectName: "chips"
                behaviorChips: root.protestChips
                foulChips: root.pilingChips
            }
            CompactSignalSummary {
                objectName: "summary"
                width: 224
                moments: root.summaryMoments
                side: 0
            }
            Row {
                spacing: 20

                RingShare {
                    objectName: "ring0"
                    share: root.shares[0]
                    color: Theme.positive
                    size: 72
                }
                RingShare {
                    objectName: "ring1"
                    share: root.shares[1]
                    color: Theme.information
                    size: 72
                }
                RingShare {
                    objectName: "ring2"
                    share: root.shares[2]
                    color: Theme.positive
                    size: 72
                }
            }
            EmotionalArcView {
                objectName: "arc"
                width: 300
                height: 140
                moments: root.arcMoments
                duration: root.arcDuration
                active: true
            }
        }
        Row {
            spacing: 16

            PartnerCorner {
                objectName: "leftCorner"
                width: 224
                displaySide: 0
                canonicalSide: 0
                share: root.leftStats.share
                turns: root.leftStats.turns
                longestTurn: root.leftStats.longestTurn
                hasTurns: true
                moments: root.roomMoments
                active: true
                starter: root.starter
                name: "Alex"
            }
            PartnerCorner {
                objectName: "rightCorner"
                width: 224
                displaySide: 1
                canonicalSide: 1
                share: root.rightStats.share
                turns: root.rightStats.turns
                longestTurn: root.rightStats.longestTurn
                hasTurns: true
                moments: root.roomMoments
                active: true
                starter: root.starter
                name: "Jordan"
            }
        }
    }
}
