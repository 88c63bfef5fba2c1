#include "radio/meta/channel_plan.h"

#include <gtest/gtest.h>

#include <string>

namespace kdsp {
namespace {

// A CHIRP export as CHIRP's CSV driver writes it: Python's csv.writer, so
// CRLF line ends and a quoted field where a comma needs it; every tone field
// filled with CHIRP's defaults whether the tone mode uses it or not.
constexpr const char* CHIRP_EXPORT =
    "Location,Name,Frequency,Duplex,Offset,Tone,rToneFreq,cToneFreq,DtcsCode,DtcsPolarity,RxDtcsCode,CrossMode,"
    "Mode,TStep,Skip,Power,Comment,URCALL,RPT1CALL,RPT2CALL,DVCODE\r\n"
    "0,CALL,145.500000,,0.000000,,88.5,88.5,023,NN,023,Tone->Tone,FM,12.50,,50W,,,,,\r\n"
    "1,GB3WH,145.725000,-,0.600000,Tone,118.8,88.5,023,NN,023,Tone->Tone,FM,12.50,,50W,Swindon,,,,\r\n"
    "2,PMR 1,446.006250,,0.000000,TSQL,88.5,67.0,023,NN,023,Tone->Tone,NFM,6.25,,0.5W,,,,,\r\n"
    "3,PMR 2,446.018750,,0.000000,DTCS,88.5,88.5,114,NR,023,Tone->Tone,NFM,6.25,,0.5W,,,,,\r\n"
    "4,SPLIT,145.600000,,0.000000,Cross,88.5,123.0,023,NN,023,Tone->Tone,FM,12.50,,50W,,,,,\r\n"
    "5,XDCS,145.612500,,0.000000,Cross,88.5,88.5,023,RR,754,Tone->DTCS,FM,12.50,,50W,,,,,\r\n"
    "6,TXONLY,145.625000,,0.000000,Cross,88.5,88.5,023,NN,023,DTCS->,FM,12.50,,50W,,,,,\r\n"
    "7,WATCH,145.637500,,0.000000,TSQL-R,88.5,100.0,023,NN,023,Tone->Tone,FM,12.50,,50W,,,,,\r\n"
    "8,\"Net, \"\"north\"\"\",145.650000,,0.000000,TSQL,88.5,88.5,023,NN,023,Tone->Tone,FM,12.50,,50W,,,,,\r\n";

ChannelPlan parsed(const std::string& text) {
  ChannelPlan plan;
  Failure error;
  EXPECT_EQ(parse_channel_plan(text, "plan.csv", &plan, &error), 0) << error;
  return plan;
}

std::string refusal(const std::string& text) {
  ChannelPlan plan;
  plan.rows.resize(3);
  Failure error;
  EXPECT_EQ(parse_channel_plan(text, "plan.csv", &plan, &error), -1) << text.substr(0, 200);
  EXPECT_EQ(plan.rows.size(), 3u) << "left untouched";
  return failure_text(error);
}

struct Expected {
  double frequency_hz;
  const char* label;
  const char* tone;
  int line;
};

void expect_rows(const ChannelPlan& plan, std::initializer_list<Expected> expected) {
  ASSERT_EQ(plan.rows.size(), expected.size());
  std::size_t i = 0;
  for (const Expected& row : expected) {
    EXPECT_EQ(plan.rows[i].frequency_hz, row.frequency_hz) << i;
    EXPECT_EQ(plan.rows[i].label, row.label) << i;
    EXPECT_EQ(tone_name(plan.rows[i].tone), row.tone) << i;
    EXPECT_EQ(plan.rows[i].line, row.line) << i;
    ++i;
  }
}

TEST(ChannelPlan, ReadsAChirpExportWithTheToneEachChannelIsHeardWith) {
  const ChannelPlan plan = parsed(CHIRP_EXPORT);
  EXPECT_EQ(plan.format, ChannelPlanFormat::CHIRP);
  expect_rows(plan, {
                        {145'500'000, "CALL", "", 2},
                        {145'725'000, "GB3WH", "", 3},       // Tone: sent to the repeater, not heard
                        {446'006'250, "PMR 1", "67.0", 4},   // TSQL: cToneFreq
                        {446'018'750, "PMR 2", "D114I", 5},  // DTCS, received reversed (NR)
                        {145'600'000, "SPLIT", "123.0", 6},  // Tone->Tone: cToneFreq on receive
                        {145'612'500, "XDCS", "D754I", 7},   // Tone->DTCS: RxDtcsCode, RR
                        {145'625'000, "TXONLY", "", 8},      // DTCS->: carrier squelch
                        {145'637'500, "WATCH", "", 9},       // TSQL-R closes on its tone
                        {145'650'000, "Net, \"north\"", "88.5", 10},
                    });
}

TEST(ChannelPlan, ReadsOlderChirpExportsAsChirpDid) {
  // Before RxDtcsCode and CrossMode: Cross meant Tone->Tone, and a file with
  // only rToneFreq used it for both tones.
  const ChannelPlan plan = parsed(
      "Location,Name,Frequency,Duplex,Offset,Tone,rToneFreq,DtcsCode,DtcsPolarity,Mode,TStep,Skip,Comment\n"
      "1,A,145.500000,,0.600000,Cross,94.8,023,NN,FM,12.50,,\n"
      "2,B,145.512500,,0.600000,TSQL,77.0,23,NN,FM,12.50,,\n"
      "3,C,145.525000,,0.600000,DTCS,77.0,23,NR,FM,12.50,,\n"
      "4,D,146.52 MHz,,0.600000,,77.0,23,NR,FM,12.50,,\n"
      "5,E,146540 kHz,,0.600000,,77.0,23,NR,FM,12.50,,\n");
  expect_rows(plan, {{145'500'000, "A", "94.8", 2},
                     {145'512'500, "B", "77.0", 3},
                     {145'525'000, "C", "D023I", 4},
                     {146'520'000, "D", "", 5},
                     {146'540'000, "E", "", 6}});
}

TEST(ChannelPlan, ReadsAPlainPlanAsPeopleAndSpreadsheetsWriteIt) {
  // A byte order mark, columns in another order and case, an extra column,
  // spaces, quotes, blank and comment lines, a missing trailing field.
  const ChannelPlan plan = parsed(
      "\xEF\xBB\xBF"
      "Label, Notes ,Frequency,TONE\n"
      "\n"
      "# calling channels\n"
      "CALL, ,145.5M,\n"
      " \"Rep, north\" , \"a \"\"quoted\"\" note\" , 145612500 , 88.5 \n"
      ",,,\n"
      "R1,,145.6125MHz,023I\n"
      "R2,,145.625M\n");
  EXPECT_EQ(plan.format, ChannelPlanFormat::PLAIN);
  // A plain plan that starts with a location column of its own is still
  // plain: its frequencies are hertz, not CHIRP's megahertz.
  const ChannelPlan located = parsed("location,frequency,label\nhill,145500000,CALL\n");
  EXPECT_EQ(located.format, ChannelPlanFormat::PLAIN);
  EXPECT_EQ(located.rows[0].frequency_hz, 145'500'000.0);
  expect_rows(plan, {{145'500'000, "CALL", "", 4},
                     {145'612'500, "Rep, north", "88.5", 5},
                     {145'612'500, "R1", "D023I", 7},
                     {145'625'000, "R2", "", 8}});
}

TEST(ChannelPlan, KeepsChannelsThatShareAFrequencyAndDropsRepeatedRows) {
  const ChannelPlan plan = parsed(
      "frequency,label,tone\r\n"
      "446.00625M,PMR1,67.0\r\n"
      "446.00625M,PMR1,D023N\r\n"
      "446.00625M,PMR1,67\r\n"  // the same tone written another way
      "446.00625M,PMR1 club,67.0\r\n"
      "446006250,PMR1,\r\n");
  expect_rows(plan, {{446'006'250, "PMR1", "67.0", 2},
                     {446'006'250, "PMR1", "D023N", 3},
                     {446'006'250, "PMR1 club", "67.0", 5},
                     {446'006'250, "PMR1", "", 6}});
}

TEST(ChannelPlan, RefusesABadRowNamingTheFileLineAndField) {
  std::string chirp = CHIRP_EXPORT;
  chirp += "9,BAD,abc,,0.000000,,88.5,88.5,023,NN,023,Tone->Tone,FM,12.50,,50W,,,,,\r\n";
  EXPECT_EQ(refusal(chirp), "plan.csv:11: Frequency 'abc' is not a frequency");

  const std::string header =
      "Location,Name,Frequency,Tone,rToneFreq,cToneFreq,DtcsCode,DtcsPolarity,RxDtcsCode,"
      "CrossMode\n";
  EXPECT_EQ(refusal(header + "1,A,145.5,TSQL,88.5,88.4,023,NN,023,\n"),
            "plan.csv:2: cToneFreq '88.4' is not a standard CTCSS tone");
  EXPECT_EQ(refusal(header + "1,A,145.5,DTCS,88.5,88.5,024,NN,023,\n"),
            "plan.csv:2: DtcsCode '024' is not a standard DCS code");
  EXPECT_EQ(refusal(header + "1,A,145.5,DTCS,88.5,88.5,023,NX,023,\n"),
            "plan.csv:2: DtcsPolarity 'NX' is not a DTCS polarity (NN, NR, RN or RR)");
  EXPECT_EQ(refusal(header + "1,A,145.5,Cross,88.5,88.5,023,NN,023,Tone->Foo\n"),
            "plan.csv:2: CrossMode 'Tone->Foo' is not a CHIRP cross mode");
  EXPECT_EQ(refusal(header + "1,A,145.5,CTCSS,88.5,88.5,023,NN,023,\n"),
            "plan.csv:2: Tone 'CTCSS' is not a CHIRP tone mode");
  EXPECT_EQ(refusal(header + "1,A,-145.5,,88.5,88.5,023,NN,023,\n"),
            "plan.csv:2: Frequency '-145.5' is not a frequency");
  EXPECT_EQ(refusal("Location,Name,Frequency,Tone\n1,A,145.5,TSQL\n"),
            "plan.csv:2: Tone 'TSQL' needs a cToneFreq column");

  EXPECT_EQ(refusal("frequency,label,tone\n145.5M,CALL,D999\n"),
            "plan.csv:2: tone 'D999' is not a standard CTCSS tone or DCS code");
  EXPECT_EQ(refusal("frequency,label\n145.5M,\n"), "plan.csv:2: label '' is empty");
  EXPECT_EQ(refusal("frequency,label\n1e400,X\n"), "plan.csv:2: frequency '1e400' is not a frequency");
  EXPECT_EQ(refusal("frequency,label\n2000G,X\n"), "plan.csv:2: frequency '2000G' is not a frequency");
}

TEST(ChannelPlan, CountsLinesAcrossQuotedLineEndsAndEveryKindOfLineEnd) {
  EXPECT_EQ(refusal("frequency,label,notes\n145.5M,A,\"two\r\nlines\"\n145.6M,B,\nabc,C,\n"),
            "plan.csv:5: frequency 'abc' is not a frequency");
  EXPECT_EQ(refusal("frequency,label\r145.5M,A\rabc,B\r"), "plan.csv:3: frequency 'abc' is not a frequency");
  EXPECT_EQ(refusal("frequency,label\r\n\r\n\r\n145.5M,A\r\nabc,B"), "plan.csv:5: frequency 'abc' is not a frequency");
}

TEST(ChannelPlan, RefusesLabelsThatWouldCorruptRecordsOrTerminals) {
  EXPECT_EQ(refusal("frequency,label\n145.5M,\"two\nlines\"\n"),
            "plan.csv:2: label 'two?lines' holds a control character");
  EXPECT_EQ(refusal("frequency,label\n145.5M,\x1b[2Jwipe\n"), "plan.csv:2: label '?[2Jwipe' holds a control character");
  EXPECT_EQ(refusal("frequency,label\n145.5M,caf\xC3\n"), "plan.csv:2: label 'caf\xC3' is not UTF-8 text");
  EXPECT_NE(refusal("frequency,label\n145.5M,\xC0\xAF\n").find("is not UTF-8"), std::string::npos);      // overlong '/'
  EXPECT_NE(refusal("frequency,label\n145.5M,\xED\xA0\x80\n").find("is not UTF-8"), std::string::npos);  // surrogate
  EXPECT_NE(refusal("frequency,label\n145.5M,\xC2\x9B"
                    "2J\n")
                .find("control character"),
            std::string::npos);  // C1 CSI
  EXPECT_NE(refusal("frequency,label\n145.5M," + std::string(129, 'x') + "\n").find("longer than 128 bytes"),
            std::string::npos);
  const ChannelPlan plan = parsed("frequency,label\n145.5M,Kanał \xE2\x80\x94 Łódź\n");
  EXPECT_EQ(plan.rows[0].label, "Kanał \xE2\x80\x94 Łódź");
}

TEST(ChannelPlan, RefusesMalformedCsvAtTheLineItStarts) {
  EXPECT_EQ(refusal("frequency,label\n145.5M,a\"b\n"),
            "plan.csv:2: a quote inside an unquoted field (quote the whole field and double the quote)");
  EXPECT_EQ(refusal("frequency,label\n145.5M,\"ab\"c\n"), "plan.csv:2: text after the closing quote of a field");
  EXPECT_EQ(refusal("frequency,label\n145.5M,A\n145.6M,\"never\nends\n"), "plan.csv:3: a quoted field that never ends");
  EXPECT_EQ(refusal(std::string("frequency,label\n145.5M,A\0B\n", 27)),
            "plan.csv:2: a NUL byte: this is not a text file");
  EXPECT_EQ(refusal("freq,name\n145.5M,A\n"),
            "plan.csv:1: the header names neither frequency,label[,tone] nor a CHIRP export's Location,Name,Frequency");
  EXPECT_EQ(refusal("Location,Name,Tone\n1,A,\n").substr(0, 11), "plan.csv:1:");
  EXPECT_EQ(refusal(""), "plan.csv: no header row and no channels");
  EXPECT_EQ(refusal("\xEF\xBB\xBF\r\n# nothing\r\n"), "plan.csv: no header row and no channels");
  EXPECT_EQ(refusal("frequency,label\n\n"), "plan.csv: no channels after the header");
}

TEST(ChannelPlan, BoundsWhatAHostileFileCanCost) {
  EXPECT_NE(refusal(std::string(MAX_CHANNEL_PLAN_BYTES + 1, '#')).find("more than a channel plan"), std::string::npos);
  std::string many = "frequency,label\n";
  for (std::size_t i = 0; i < MAX_CHANNEL_PLAN_ROWS; ++i) many += "145.5M,C" + std::to_string(i) + "\n";
  EXPECT_EQ(refusal(many), "plan.csv:10001: more than 10000 rows");
  EXPECT_EQ(refusal("frequency,label" + std::string(MAX_CHANNEL_PLAN_COLUMNS, ',') + "\n"),
            "plan.csv:1: more than 64 fields");
  EXPECT_EQ(refusal("frequency,label\n145.5M,\"" + std::string(MAX_CHANNEL_PLAN_FIELD_BYTES + 1, 'x') + "\"\n"),
            "plan.csv:2: a field longer than 1024 bytes");
  // The largest plan allowed is read whole.
  many.resize(many.rfind("145.5M"));
  EXPECT_EQ(parsed(many).rows.size(), MAX_CHANNEL_PLAN_ROWS - 1);
}

}  // namespace
}  // namespace kdsp
