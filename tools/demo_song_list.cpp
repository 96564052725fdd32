// The demo songs: traditional Korean folk songs and public-domain melodies, arranged for this
// program (melodies written down afresh, chords, bass and drums our own).
#include "tools/demo_songs.h"

namespace {

std::vector<DemoSong> MakeSongs() {
  std::vector<DemoSong> songs;

  DemoSong s;
  s.number = 1001;
  s.title = L"아리랑";
  s.lyricist = L"전래 민요";
  s.composer = L"전래 민요";
  s.singer = L"경기 민요";
  s.sex = L"혼성";
  s.keys = L"G/C/G";
  s.genre = L"민요";
  s.bpm = 92;
  s.beatsPerBar = 3;
  s.keySharps = 1;
  s.phrases = {
      {"G4:3 A4:1 G4:2 A4:3 B4:1 A4:2 B4:2 D5:2 B4:2 A4:6", "G/G/Em/D"},
      {"D5:3 E5:1 D5:2 B4:3 A4:1 B4:2 G4:2 A4:2 B4:2 G4:6", "G/Em/C/G"},
      {"D5:3 E5:1 D5:2 B4:3 A4:1 B4:2 D5:2 B4:2 A4:2 G4:6", "G/Em/Am/D"},
      {"G4:3 A4:1 G4:2 A4:3 B4:1 A4:2 B4:2 A4:2 E4:2 G4:6", "G/C/D/G"},
  };
  s.verses = {
      {L"아리랑 아리랑 아라리요", L"아리랑 고개로 넘어간다", L"나를 버리고 가시는 님은", L"십리도 못 가서 발병 난다"},
      {L"아리랑 아리랑 아라리요", L"아리랑 고개로 넘어간다", L"청천 하늘엔 잔별도 많고", L"이내 가슴엔 수심도 많다"},
  };
  s.introChords = "G/D";
  s.interludeChords = "C/D";
  s.endingChords = "D/G";
  s.encoding = DemoTextEncoding::Utf8;
  songs.push_back(s);

  s = DemoSong();
  s.number = 1002;
  s.title = L"도라지 타령";
  s.lyricist = L"전래 민요";
  s.composer = L"전래 민요";
  s.singer = L"경기 민요";
  s.sex = L"여";
  s.keys = L"C/F/C";
  s.genre = L"민요";
  s.bpm = 104;
  s.beatsPerBar = 3;
  s.melodyProgram = 22;
  s.phrases = {
      {"C5:3 A4:1 G4:2 C5:3 A4:1 G4:2 A4:2 C5:2 D5:2 C5:6", "C/C/F/C"},
      {"E5:3 D5:1 C5:2 D5:3 C5:1 ~A4:2 A4:2 C5:2 D5:2 C5:6", "C/G/F/C"},
      {"E5:3 D5:1 C5:2 D5:3 E5:1 ~D5:2 C5:2 A4:2 ~G4:2 A4:6", "C/G/Am/F"},
      {"A4:2 C5:1 D5:1 C5:2 A4:3 G4:1 A4:2 C5:2 D5:2 E5:2 C5:6", "F/Am/G/C"},
      {"E5:2 G5:2 E5:2 D5:2 E5:2 D5:2 C5:2 D5:2 C5:2 ~A4:6", "C/G/F/C"},
      {"A4:2 C5:1 D5:1 E5:2 D5:6 C5:2 D5:2 C5:2 A4:3 C5:3", "F/G/Am/C"},
  };
  s.verses = {{L"도라지 도라지 백도라지", L"심심 산천에 백도라지", L"한두 뿌리만 캐어도", L"대바구니로 반실만 되누나",
               L"에헤요 에헤요 에헤요", L"어여라 난다 지화자 좋다"}};
  s.introChords = "C/G";
  s.interludeChords = "F/G";
  s.endingChords = "G/C";
  s.encoding = DemoTextEncoding::Cp949;
  songs.push_back(s);

  s = DemoSong();
  s.number = 1003;
  s.title = L"밀양 아리랑";
  s.lyricist = L"전래 민요";
  s.composer = L"전래 민요";
  s.singer = L"경상도 민요";
  s.sex = L"혼성";
  s.keys = L"D/G/D";
  s.genre = L"민요";
  s.bpm = 112;
  s.beatsPerBar = 3;
  s.keySharps = 2;
  s.melodyProgram = 75;
  s.phrases = {
      {"D5:2 D5:2 B4:1 A4:1 D5:2 D5:2 B4:1 A4:1 E5:2 F#5:2 E5:1 D5:1 ~D5:6", "D/D/A/D"},
      {"A4:2 D5:2 D5:1 E5:1 F#5:3 E5:1 D5:1 B4:1 A4:2 B4:2 A4:1 F#4:1 ~A4:6", "D/G/A/D"},
      {"D5:1 D5:1 D5:1 E5:1 F#5:2 E5:1 E5:1 E5:1 D5:1 B4:2 A4:1 B4:1 D5:1 E5:1 F#5:2 D5:6", "D/G/A/D"},
      {"D5:2 E5:1 D5:1 B4:2 A4:2 B4:2 ~A4:2 F#4:2 A4:2 B4:1 A4:1 D4:6", "D/Bm/A/D"},
  };
  s.verses = {{L"날 좀 보소 날 좀 보소 날 좀 보소", L"동지 섣달 꽃 본 듯이 날 좀 보소",
               L"아리 아리랑 쓰리 쓰리랑 아라리가 났네", L"아리랑 고개로 날 넘겨주소"}};
  s.introChords = "D/A";
  s.interludeChords = "G/A";
  s.endingChords = "A/D";
  s.encoding = DemoTextEncoding::Utf16Le;
  songs.push_back(s);

  s = DemoSong();
  s.number = 1004;
  s.title = L"강강술래";
  s.lyricist = L"전래 민요";
  s.composer = L"전래 민요";
  s.singer = L"남도 민요";
  s.sex = L"여";
  s.keys = L"Am/Dm/Am";
  s.genre = L"민요";
  s.bpm = 84;
  s.minor = true;
  s.melodyProgram = 73;
  s.phrases = {
      {"A4:2 C5:2 D5:2 C5:2 A4:2 C5:2 D5:1 ~C5:1 A4:2", "Am/Am"},
      {"E5:2 E5:2 D5:2 C5:2 ~A4:8", "C/Am"},
      {"A4:2 C5:2 D5:2 E5:2 D5:2 C5:2 D5:1 ~C5:1 A4:2", "Am/G"},
      {"E5:2 D5:2 C5:2 B4:2 ~A4:8", "Em/Am"},
  };
  s.verses = {{L"달 떠온다 달 떠온다", L"강강술래", L"동해 동천 달 떠온다", L"강강술래"},
              {L"뛰어 보자 뛰어 보자", L"강강술래", L"높은 하늘 별도 총총", L"강강술래"}};
  s.introChords = "Am/Em";
  s.interludeChords = "Dm/Em";
  s.endingChords = "Em/Am";
  s.encoding = DemoTextEncoding::Utf8Bom;
  songs.push_back(s);

  s = DemoSong();
  s.number = 1005;
  s.title = L"진도 아리랑";
  s.lyricist = L"전래 민요";
  s.composer = L"전래 민요";
  s.singer = L"남도 민요";
  s.sex = L"혼성";
  s.keys = L"Em/Am/Em";
  s.genre = L"민요";
  s.bpm = 96;
  s.beatsPerBar = 3;
  s.keySharps = 1;
  s.minor = true;
  s.melodyProgram = 77;
  s.phrases = {
      {"E5:1 E5:1 E5:1 G5:1 E5:2 D5:1 D5:1 D5:1 B4:1 A4:2 B4:1 D5:1 E5:1 D5:1 B4:2 E4:6", "Em/D/Em/Em"},
      {"E5:3 D5:1 E5:2 G5:2 E5:2 D5:2 B4:1 D5:1 E5:1 D5:1 B4:2 E4:6", "Em/G/D/Em"},
      {"B4:3 D5:1 E5:2 D5:2 B4:2 ~A4:2 B4:2 D5:2 B4:2 E4:6", "Em/D/G/Em"},
      {"E5:2 E5:2 D5:2 B4:2 D5:2 E5:2 D5:1 B4:1 A4:2 B4:2 E4:6", "Em/G/D/Em"},
  };
  s.verses = {{L"아리 아리랑 스리 스리랑 아라리가 났네", L"아리랑 응응응 아라리가 났네", L"문경 새재는 웬 고갠가",
               L"구비야 구비야 눈물이 난다"}};
  s.introChords = "Em/D";
  s.interludeChords = "G/D";
  s.endingChords = "D/Em";
  songs.push_back(s);

  s = DemoSong();
  s.number = 1006;
  s.title = L"새야 새야 파랑새야";
  s.lyricist = L"전래 동요";
  s.composer = L"전래 동요";
  s.singer = L"전래 동요";
  s.sex = L"혼성";
  s.keys = L"Am/Dm/Am";
  s.genre = L"동요";
  s.bpm = 72;
  s.minor = true;
  s.melodyProgram = 71;
  s.phrases = {
      {"E5:2 E5:2 D5:2 C5:2 D5:2 C5:2 A4:2 A4:2", "Am/Am"},
      {"C5:2 D5:2 E5:2 D5:2 C5:2 A4:2 G4:2 A4:2", "C/Am"},
      {"E5:2 G5:2 E5:2 D5:2 E5:2 D5:2 C5:2 D5:2", "Am/G"},
      {"C5:2 D5:2 E5:2 D5:2 C5:2 A4:2 G4:2 A4:2", "C/Am"},
  };
  s.verses = {{L"새야 새야 파랑새야", L"녹두밭에 앉지 마라", L"녹두꽃이 떨어지면", L"청포 장수 울고 간다"}};
  s.introChords = "Am/Em";
  s.interludeChords = "Am/Em";
  s.endingChords = "Em/Am";
  songs.push_back(s);

  s = DemoSong();
  s.number = 1007;
  s.title = L"옹헤야";
  s.lyricist = L"전래 민요";
  s.composer = L"전래 민요";
  s.singer = L"경상도 민요";
  s.sex = L"남";
  s.keys = L"G/G/C";
  s.genre = L"민요";
  s.bpm = 112;
  s.keySharps = 1;
  s.melodyProgram = 65;
  s.phrases = {
      {"G4:2 B4:2 D5:4 E5:2 D5:2 B4:4", "G/Em"},
      {"D5:1 D5:1 E5:1 D5:1 B4:2 A4:2 G4:8", "C . D ./G"},
      {"D5:1 D5:1 E5:1 G5:1 E5:2 D5:2 B4:8", "G/Em"},
      {"B4:2 D5:2 E5:1 D5:1 B4:1 A4:1 G4:8", "C . D ./G"},
  };
  s.verses = {{L"옹헤야 옹헤야", L"어절씨구 옹헤야", L"저절씨구 옹헤야", L"잘도 한다 옹헤야"},
              {L"옹헤야 옹헤야", L"보리타작 옹헤야", L"두드려라 옹헤야", L"잘도 한다 옹헤야"}};
  s.introChords = "G/D";
  s.interludeChords = "C/D";
  s.endingChords = "D/G";
  // The first verse speeds up; every rhythm channel has the song's own tone.
  s.tempoChangeBar = 6;
  s.tempoChangeBpm = 132;
  s.rhythmPartTones = true;
  songs.push_back(s);

  s = DemoSong();
  s.number = 1008;
  s.pop = true;
  s.title = L"Oh! Susanna";
  s.lyricist = L"Stephen Foster";
  s.composer = L"Stephen Foster";
  s.singer = L"Tavelo Folk Band";
  s.sex = L"남";
  s.keys = L"C/C/F";
  s.genre = L"팝";
  s.bpm = 120;
  s.melodyProgram = 105;
  s.phrases = {
      {"R:6 C4:1 D4:1 E4:2 G4:2 G4:3 A4:1 G4:2 E4:2 C4:3 D4:1 E4:2 E4:2 D4:2 C4:2", "C/C/C/G"},
      {"R:6 C4:1 D4:1 E4:2 G4:2 G4:3 A4:1 G4:2 E4:2 C4:3 D4:1 E4:2 E4:2 D4:1 D4:1 C4:2", "C/C/C/G . C ."},
      {"F4:4 F4:2 A4:2 A4:4 A4:2 G4:2 G4:2 E4:2 C4:2 ~D4:2 D4:8", "F/C/C/G"},
      {"R:4 C4:1 C4:1 C4:1 D4:1 E4:2 G4:2 G4:3 A4:1 G4:2 E4:2 C4:3 D4:1 E4:2 E4:2 D4:2 ~C4:2",
       "C/C/C/G . C ."},
  };
  s.verses = {{L"I came from A-la-ba-ma with my ban-jo on my knee",
               L"I'm go-ing to Lou-i-si-an-a, my true love for to see", L"Oh! Su-san-na, oh don't you cry for me",
               L"for I come from A-la-ba-ma with my ban-jo on my knee"}};
  s.introChords = "C/G";
  s.interludeChords = "F/G";
  s.endingChords = "G/C";
  s.koTitle = L"오! 수재너";
  s.koSinger = L"타벨로 포크 밴드";
  s.koFirstLine = L"밴조 메고 앨라배마에서 왔다네";
  songs.push_back(s);

  s = DemoSong();
  s.number = 1009;
  s.title = L"작은 별";
  s.lyricist = L"타벨로";
  s.composer = L"프랑스 민요";
  s.singer = L"어린이 합창단";
  s.sex = L"혼성";
  s.keys = L"C/F/C";
  s.genre = L"동요";
  s.bpm = 96;
  s.melodyProgram = 9;
  s.phrases = {
      {"C4:2 C4:2 G4:2 G4:2 A4:2 A4:2 G4:4", "C/F . C ."},
      {"F4:2 F4:2 E4:2 E4:2 D4:2 D4:2 C4:4", "F . C ./G . C ."},
      {"G4:2 G4:2 F4:2 F4:2 E4:2 E4:2 D4:4", "C . F ./C . G ."},
      {"G4:2 G4:2 F4:2 F4:2 E4:2 E4:2 D4:4", "C . F ./C . G ."},
      {"C4:2 C4:2 G4:2 G4:2 A4:2 A4:2 G4:4", "C/F . C ."},
      {"F4:2 F4:2 E4:2 E4:2 D4:2 D4:2 C4:4", "F . C ./G . C ."},
  };
  s.verses = {{L"밤하늘에 높은 별", L"우리 집을 비추네", L"동쪽 하늘 저 멀리", L"아침 오면 잠드네", L"밤하늘에 높은 별",
               L"우리 집을 비추네"}};
  s.introChords = "C/G";
  s.interludeChords = "F/G";
  s.endingChords = "G/C";
  songs.push_back(s);

  s = DemoSong();
  s.number = 1010;
  s.pop = true;
  s.title = L"Amazing Grace";
  s.lyricist = L"John Newton";
  s.composer = L"American folk hymn";
  s.singer = L"Tavelo Choir";
  s.sex = L"혼성";
  s.keys = L"G/C/G";
  s.genre = L"팝";
  s.bpm = 76;
  s.beatsPerBar = 3;
  s.keySharps = 1;
  s.melodyProgram = 19;
  s.phrases = {
      {"R:4 D4:2 G4:4 B4:1 ~G4:1 B4:4 A4:2 G4:4 E4:2 D4:4 R:2", "G/G/G/C/G"},
      {"R:4 D4:2 G4:4 B4:1 ~G4:1 B4:4 A4:2 D5:6", "G/G/Em/D"},
      {"D5:4 B4:1 ~D5:1 B4:4 G4:2 E4:2 G4:2 E4:2 D4:6", "G/G/C/G"},
      {"D4:2 G4:4 B4:1 ~G4:1 B4:4 A4:6 G4:6", "G/G/D/G"},
  };
  s.verses = {{L"A-ma-zing grace, how sweet the sound", L"That saved a wretch like me",
               L"I once was lost, but now am found", L"Was blind, but now I see"}};
  s.introChords = "G/D";
  s.interludeChords = "C/D";
  s.endingChords = "D/G";
  s.koTitle = L"놀라운 은혜";
  s.koSinger = L"타벨로 합창단";
  s.koFirstLine = L"놀라운 은혜 그 소리 얼마나 고운가";
  songs.push_back(s);

  // A slow folk song with long notes: the melody the sax expression suits.
  s = DemoSong();
  s.number = 1011;
  s.title = L"한오백년";
  s.lyricist = L"전래 민요";
  s.composer = L"전래 민요";
  s.singer = L"강원도 민요";
  s.sex = L"혼성";
  s.keys = L"Am/Am/Dm";
  s.genre = L"민요";
  s.bpm = 72;
  s.minor = true;
  s.melodyProgram = 65;
  s.phrases = {
      {"A4:2 C5:2 D5:4 E5:3 D5:1 C5:2 A4:2 C5:2 D5:2 E5:4 D5:8", "Am/Dm/Am/Em"},
      {"E5:2 G5:2 A5:4 G5:2 E5:2 D5:2 C5:2 D5:2 E5:1 D5:1 C5:2 A4:2 A4:8", "C/Em/Dm/Am"},
      {"A4:2 C5:2 D5:4 E5:2 G5:2 E5:4 D5:2 C5:2 D5:4 E5:4 D5:4", "Am/C/Dm/Em"},
      {"E5:2 G5:2 A5:4 G5:2 E5:2 D5:4 C5:2 D5:1 C5:1 A4:2 G4:2 A4:8", "C/G/Dm/Am"},
  };
  s.verses = {{L"한 많은 이 세상 야속한 님아", L"정을 두고 몸만 가니 눈물이 나네", L"아무렴 그렇지 그렇고 말고",
               L"한오백년 사자는데 웬 성화요"}};
  s.introChords = "Am";  // one bar: the melody comes in early
  s.interludeChords = "Dm/Em";
  s.endingChords = "Em/Am";
  songs.push_back(s);

  return songs;
}

}  // namespace

const std::vector<DemoSong>& DemoSongs() {
  static const std::vector<DemoSong> songs = MakeSongs();
  return songs;
}
