#include "settings/settings_templates.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

#include "settings/profile_file.h"
#include "settings/recorder_model.h"
#include "support/temp_dir.h"

namespace {

using lyr::FieldText;
using lyr::FileFormatTemplateList;
using lyr::InputTemplateList;
using lyr::ProfileFile;

struct Loaded {
  InputTemplateList inputs;
  FileFormatTemplateList formats;
};

Loaded Load(const std::string& text) {
  ProfileFile f;
  f.Parse(text);
  Loaded l;
  lyr::LoadTemplates(f, l.inputs, l.formats);
  return l;
}

std::string Save(const Loaded& l, const std::string& before = "") {
  ProfileFile f;
  f.Parse(before);
  lyr::SaveTemplates(f, l.inputs, l.formats);
  return f.Text();
}

TEST(SettingsTemplates, BuiltInsWhenTheCountsAreZeroOrMissing) {
  const Loaded l = Load("");
  ASSERT_EQ(l.inputs.size(), 1u);
  const lyr::InputTemplate& in = *l.inputs[0];
  EXPECT_EQ(FieldText(in.name, 32), "TORVI");
  const int expected_input[] = {2, 0, 2, 0, 200, 0, -10, 0, 1, 1};
  const int got_input[] = {in.indev,  in.matrix,  in.agc_lv, in.rec_buf, in.rec_lv,
                           in.a_gain, in.out_vol, in.bst,    in.pwr,     in.flt};
  EXPECT_TRUE(std::equal(std::begin(expected_input), std::end(expected_input), std::begin(got_input)));

  struct Format {
    const char* name;
    uint32_t codec, rate, bitrate;
  } expected[] = {
      {"HIGH", 0x70001, 44100, 0}, {"MEDIUM", 0x7000F, 44100, 256000}, {"LOW", 0x7000F, 44100, 128000}};
  ASSERT_EQ(l.formats.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const lyr::FileFormatTemplate& t = *l.formats[i];
    EXPECT_EQ(FieldText(t.name, 32), expected[i].name);
    EXPECT_EQ(t.codecid, expected[i].codec);
    EXPECT_EQ(t.samplerate, expected[i].rate);
    EXPECT_EQ(t.bitrate, expected[i].bitrate);
    EXPECT_EQ(t.channels, 2);
    EXPECT_EQ(t.bits, 16);
    EXPECT_EQ(FieldText(t.filename, 8), "USER");
    EXPECT_EQ(FieldText(t.extname, 4), "WAV");
  }

  // Saving writes all three as FileFmt1..3.
  const std::string saved = Save(l);
  EXPECT_NE(saved.find("[common]\nInDevTemplateCount=1\nFileFmtTemplateCount=3\n"), std::string::npos);
  EXPECT_NE(saved.find("[FileFmt1]\ncodecid=458753\nsamplerate=44100\nbitrate=0\nchannels=2\nbits=16\n"
                       "name=HIGH\nfilename=USER\nextname=WAV\n"),
            std::string::npos);
  EXPECT_NE(saved.find("[FileFmt2]\ncodecid=458767\nsamplerate=44100\nbitrate=256000\n"), std::string::npos);
  EXPECT_NE(saved.find("[FileFmt3]"), std::string::npos);
  EXPECT_NE(saved.find("[InDev1]\nindev=2\nmatrix=0\nagc_lv=2\nrec_buf=0\nrec_lv=200\na_gain=0\nout_vol=-10\n"
                       "bst=0\npwr=1\nflt=1\nname=TORVI\n"),
            std::string::npos);
}

TEST(SettingsTemplates, SectionsFillMissingKeysWithDefaults) {
  const Loaded l = Load(
      "[common]\nInDevTemplateCount=2\nFileFmtTemplateCount=1\n"
      "[InDev1]\nname=Studio\nindev=3\nout_vol=-10\nbst=70000\n"
      "[InDev2]\nrec_lv=150\n"
      "[FileFmt1]\nbitrate=64000\n");
  ASSERT_EQ(l.inputs.size(), 2u);
  EXPECT_EQ(FieldText(l.inputs[0]->name, 32), "Studio");
  EXPECT_EQ(l.inputs[0]->indev, 3);
  EXPECT_EQ(l.inputs[0]->out_vol, -10);
  EXPECT_EQ(l.inputs[0]->bst, 70000);
  // InDev2 has no name: Type2; its other keys take the section defaults.
  const lyr::InputTemplate& second = *l.inputs[1];
  EXPECT_EQ(FieldText(second.name, 32), "Type2");
  const int expected[] = {1, 0, 0, 0, 150, 0, -10, 0, 0, 0};
  const int got[] = {second.indev,  second.matrix,  second.agc_lv, second.rec_buf, second.rec_lv,
                     second.a_gain, second.out_vol, second.bst,    second.pwr,     second.flt};
  EXPECT_TRUE(std::equal(std::begin(expected), std::end(expected), std::begin(got)));

  ASSERT_EQ(l.formats.size(), 1u);
  const lyr::FileFormatTemplate& f = *l.formats[0];
  EXPECT_EQ(FieldText(f.name, 32), "Type1");
  EXPECT_EQ(f.codecid, 0x70001u);
  EXPECT_EQ(f.samplerate, 44100u);
  EXPECT_EQ(f.bitrate, 64000u);
  EXPECT_EQ(FieldText(f.filename, 8), "USER");
  EXPECT_EQ(FieldText(f.extname, 4), "WAV");
}

TEST(SettingsTemplates, TextsAreCutToTheirFields) {
  const std::string forty(40, 'N');
  const Loaded l = Load("[common]\nInDevTemplateCount=1\nFileFmtTemplateCount=1\n[InDev1]\nname=" + forty +
                        "\n[FileFmt1]\nname=" + forty + "\nfilename=ABCDEFGHIJ\nextname=WAVE\n");
  // A file-format name of 40 characters fills its 32 bytes with no terminator.
  const lyr::FileFormatTemplate& f = *l.formats[0];
  EXPECT_EQ(std::memchr(f.name, 0, 32), nullptr);
  EXPECT_EQ(FieldText(f.name, 32), std::string(32, 'N'));
  EXPECT_EQ(FieldText(f.filename, 8), "ABCDEFGH");
  EXPECT_EQ(FieldText(f.extname, 4), "WAVE");
  // An input name is read with room for 31 characters: it keeps a terminator.
  EXPECT_EQ(FieldText(l.inputs[0]->name, 32), std::string(31, 'N'));
  // Saving writes at most the field.
  EXPECT_NE(Save(l).find("name=" + std::string(32, 'N') + "\nfilename=ABCDEFGH\nextname=WAVE\n"),
            std::string::npos);
}

TEST(SettingsTemplates, NumbersRoundTripWithTheirSigns) {
  Loaded l = Load("");
  l.inputs[0]->out_vol = -10;
  l.inputs[0]->bst = -2;
  l.formats[0]->channels = 65535;  // written unsigned
  l.formats[0]->bits = 40000;
  l.formats[0]->samplerate = 3000000000u;  // "%d" writes it negative
  const std::string text = Save(l);
  EXPECT_NE(text.find("out_vol=-10\n"), std::string::npos);
  EXPECT_NE(text.find("channels=65535\nbits=40000\n"), std::string::npos);
  EXPECT_NE(text.find("samplerate=-1294967296\n"), std::string::npos);
  const Loaded back = Load(text);
  EXPECT_EQ(back.inputs[0]->out_vol, -10);
  EXPECT_EQ(back.inputs[0]->bst, -2);
  EXPECT_EQ(back.formats[0]->channels, 65535);
  EXPECT_EQ(back.formats[0]->bits, 40000);
  EXPECT_EQ(back.formats[0]->samplerate, 3000000000u);
}

TEST(SettingsTemplates, AbsurdCountsStayBounded) {
  struct Case {
    const char* count;
    size_t expected;
  } cases[] = {
      {"-1", 0},                               // negative: no templates
      {"2147483648", 0},                       // 2^31 reads as negative
      {"2147483647", lyr::kMaxTemplateCount},  // huge: bounded
      {"99999999999999999999", lyr::kMaxTemplateCount},
      {"junk", 1},  // non-numeric reads as 0: the built-in
  };
  for (const Case& c : cases) {
    const auto start = std::chrono::steady_clock::now();
    const Loaded l = Load(std::string("[common]\nInDevTemplateCount=") + c.count + "\n");
    EXPECT_EQ(l.inputs.size(), c.expected) << c.count;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  }
  // The file-format count follows the same rules.
  EXPECT_EQ(Load("[common]\nFileFmtTemplateCount=-5\n").formats.size(), 0u);
}

TEST(SettingsTemplates, SectionsBeyondANewCountStayInTheFile) {
  Loaded l = Load("");
  const std::string first = Save(l);
  l.formats.pop_back();
  l.formats.pop_back();
  const std::string second = Save(l, first);
  EXPECT_NE(second.find("FileFmtTemplateCount=1\n"), std::string::npos);
  EXPECT_NE(second.find("[FileFmt3]\ncodecid=458767\n"), std::string::npos);
  const Loaded again = Load(second);
  ASSERT_EQ(again.formats.size(), 1u);
  EXPECT_EQ(FieldText(again.formats[0]->name, 32), "HIGH");
}

TEST(SettingsTemplates, TheModelLoadsAtStartAndSavesWhenDestroyed) {
  lyr_test::TempDir dir;
  const std::string path = (dir / "cfgfile.ini").string();
  {
    std::ofstream(path) << "; mine\n[common]\nTemp_Path=/somewhere\nFileFmtTemplateCount=1\n"
                           "[FileFmt1]\nname=Mono\nchannels=1\n[FileFmt2]\nname=Old\n";
  }
  {
    lyr::RecorderModel model;
    model.LoadTemplates(path);
    ASSERT_EQ(model.FileFormatTemplates().size(), 1u);
    EXPECT_EQ(FieldText(model.FileFormatTemplates()[0]->name, 32), "Mono");
    EXPECT_EQ(model.InputTemplates().size(), 1u);  // built-in TORVI
    lyr::SetFieldText(model.FileFormatTemplates()[0]->name, 32, "Mono 2");
  }
  std::stringstream saved;
  saved << std::ifstream(path).rdbuf();
  const std::string text = saved.str();
  EXPECT_EQ(
      text.rfind("; mine\n[common]\nTemp_Path=/somewhere\nFileFmtTemplateCount=1\nInDevTemplateCount=1\n", 0),
      0u)
      << text;
  EXPECT_NE(text.find("[FileFmt1]\nname=Mono 2\nchannels=1\n"), std::string::npos);
  EXPECT_NE(text.find("[FileFmt2]\nname=Old\n"), std::string::npos);
  EXPECT_NE(text.find("[InDev1]\n"), std::string::npos);

  // A model without a configuration path saves nothing.
  lyr::RecorderModel none;
  none.LoadTemplates("");
  EXPECT_EQ(none.FileFormatTemplates().size(), 3u);
  EXPECT_FALSE(none.SaveTemplates());
}

}  // namespace
