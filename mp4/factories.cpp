// Box factories and prototype tables.
#include "factories.h"

#include "kvbyteorder.h"

#include <cwctype>
#include <new>

namespace fileutil {

void FourCCFactory::Add(IBox* prototype) {
  if (prototype) factory_.Add(prototype->GetType(), prototype);
}

uint64_t FourCCFactory::Create(IBox*& out, FourCC type, std::istream&) {
  out = factory_.CreateBox(type);
  return 0;
}

#define NEW(C) new (std::nothrow) C()

void BoxFactory::RegisterBoxes() {
  Add(NEW(FileTypeBox));
  Add(NEW(UdtaBox));
  Add(NEW(MoovBox));
  Add(NEW(TrakBox));
  Add(NEW(MdiaBox));
  Add(NEW(MediaHeaderBox));
  Add(NEW(MinfBox));
  Add(NEW(MediaDataBox));
  Add(NEW(StblBox));
  Add(NEW(MetaBox));
  Add(NEW(IlstBox));
  Add(NEW(MediaHandlerReferenceBox));
  Add(NEW(ChunkOffsetBox));
  Add(NEW(ChunkLargeOffsetBox));
  Add(NEW(TimeToSampleBox));
  Add(NEW(SampleSizeBox));
  Add(NEW(SampleToChunkBox));
  Add(NEW(SampleDescriptionBox));
  Add(NEW(ElementaryStreamDescriptorBox));
  Add(NEW(Mpeg4AudioSampleEntry));
  Add(NEW(TitlAssetBox));
  Add(NEW(DscpAssetBox));
  Add(NEW(CprtAssetBox));
  Add(NEW(PerfAssetBox));
  Add(NEW(GnreAssetBox));
  Add(NEW(AlbmAssetBox));
  Add(NEW(RecordingYearBox));
  Add(NEW(ID3v2MetaBox));
  Add(NEW(MTSMBox));
  Add(NEW(MetaTypeDefinitionBox));
  Add(NEW(MetaDataBox));
  Add(NEW(MetaDataSampleManagerHeaderBox));
  Add(NEW(MetaDataSampleTableBox));
  Add(NEW(PNGSampleEntryBox));
}

void ReadMetaFactory::RegisterBoxes() {
  Add(NEW(MoovBox));
  Add(NEW(UdtaBox));
  Add(NEW(MetaBox));
  Add(NEW(IlstBox));
  Add(NEW(TitlAssetBox));
  Add(NEW(DscpAssetBox));
  Add(NEW(CprtAssetBox));
  Add(NEW(PerfAssetBox));
  Add(NEW(GnreAssetBox));
  Add(NEW(AlbmAssetBox));
  Add(NEW(RecordingYearBox));
  Add(NEW(ID3v2MetaBox));
  Add(NEW(TrakBox));
  Add(NEW(MdiaBox));
  Add(NEW(MediaHeaderBox));
  Add(NEW(MinfBox));
  Add(NEW(StblBox));
  Add(NEW(SampleDescriptionBox));
  Add(NEW(Mpeg4AudioSampleEntry));
  Add(NEW(MTSMBox));
  Add(NEW(MetaTypeDefinitionBox));
  Add(NEW(MetaDataBox));
  Add(NEW(MetaDataSampleManagerHeaderBox));
  Add(NEW(MetaDataSampleTableBox));
  Add(NEW(PNGSampleEntryBox));
}

void MetaFactory::RegisterBoxes() {
  Add(NEW(MoovBox));
  Add(NEW(UdtaBox));
  Add(NEW(MetaBox));
  Add(NEW(IlstBox));
  Add(NEW(TrakBox));
  Add(NEW(MdiaBox));
  Add(NEW(MinfBox));
  Add(NEW(MediaDataBox));
  Add(NEW(StblBox));
  Add(NEW(ChunkOffsetBox));
  Add(NEW(ChunkLargeOffsetBox));
  Add(NEW(TitlAssetBox));
  Add(NEW(DscpAssetBox));
  Add(NEW(CprtAssetBox));
  Add(NEW(PerfAssetBox));
  Add(NEW(GnreAssetBox));
  Add(NEW(AlbmAssetBox));
  Add(NEW(RecordingYearBox));
  Add(NEW(ID3v2MetaBox));
  Add(NEW(FreeBox));
}

void ITunesReadFactory::RegisterBoxes() {
  Add(NEW(CovrBox));
  Add(NEW(ARTItemBox));
  Add(NEW(AARTItemBox));
  Add(NEW(CmtItemBox));
  Add(NEW(DayItemBox));
  Add(NEW(NamItemBox));
  Add(NEW(AlbItemBox));
  Add(NEW(TooItemBox));
  Add(NEW(GenItemBox));
  Add(NEW(GnreItemBox));
  Add(NEW(CpyItemBox));
  Add(NEW(DesItemBox));
  Add(NEW(KeywItemBox));
  Add(NEW(TrknItemBox));
  Add(NEW(FreeformItemBox));
  Add(NEW(MeanBox));
  Add(NEW(NameBox));
}

uint64_t GuidBoxFactory::Create(IBox*& out, FourCC, std::istream& in) {
  uint8_t bytes[16] = {0};
  in.read(reinterpret_cast<char*>(bytes), 16);
  uint64_t got = uint64_t(in.gcount());
  GUID guid;
  GuidFromBytes(bytes, guid);
  out = factory_.CreateBox(guid);
  return got;
}

void GuidBoxFactory::RegisterBoxes() {
  UserSpecificMetaData* a = NEW(UserSpecificMetaData);
  if (a) factory_.Add(a->GetGuid(), a);
  MetaDataSampleData* b = NEW(MetaDataSampleData);
  if (b) factory_.Add(b->GetGuid(), b);
}

uint64_t DataBoxFactory::Create(IBox*& out, FourCC type, std::istream& in) {
  out = nullptr;
  if (type != FourCC(FCC("data"))) return 0;
  uint8_t b[4] = {0, 0, 0, 0};
  in.read(reinterpret_cast<char*>(b), 4);
  uint64_t got = uint64_t(in.gcount());
  uint32_t code = GetBE32(b);
  out = factory_.CreateBox(code);
  return got;
}

template <class T>
static void AddDataPrototype(Factory<uint32_t, IBox, UnknownDataBox, std::less<uint32_t>>& f) {
  T* box = new (std::nothrow) T();
  if (box) f.Add(box->GetDataType(), box);
}

void DataBoxFactory::RegisterBoxes() {
  AddDataPrototype<DataBox0>(factory_);
  AddDataPrototype<DataBox1>(factory_);
  AddDataPrototype<DataBox2>(factory_);
  AddDataPrototype<DataBox3>(factory_);
  AddDataPrototype<DataBox13>(factory_);
  AddDataPrototype<DataBox14>(factory_);
  AddDataPrototype<DataBox21>(factory_);
  AddDataPrototype<DataBox22>(factory_);
  AddDataPrototype<DataBox23>(factory_);
  AddDataPrototype<DataBox24>(factory_);
  AddDataPrototype<DataBox27>(factory_);
}

// ---------------------------------------------------------------------------
// Prototype tables

SummaryBoxTable::~SummaryBoxTable() {
  for (auto& e : map_) delete e.second;
}

bool SummaryBoxTable::Add(uint32_t id, IBox* prototype) {
  if (!prototype) return false;
  if (!map_.emplace(id, prototype).second) {
    delete prototype;
    return false;
  }
  return true;
}

IBox* SummaryBoxTable::CreateBox(uint32_t id) const {
  auto it = map_.find(id);
  return it == map_.end() ? nullptr : BoxCloner::Clone(*it->second);
}

static uint32_t Id(const char (&s)[5]) { return FCC(s); }

void AssetBoxTable::Fill() {
  Add(Id("INAM"), NEW(TitlAssetBox));
  Add(Id("ISBJ"), NEW(DscpAssetBox));
  Add(Id("ICOP"), NEW(CprtAssetBox));
  Add(Id("IART"), NEW(PerfAssetBox));
  Add(Id("IGNR"), NEW(GnreAssetBox));
  Add(Id("ISRC"), NEW(AlbmAssetBox));
  Add(Id("ICRD"), NEW(RecordingYearBox));
}

const char kFreeformKeyA[5] = "ILIC";
const char kFreeformKeyB[5] = "IOWN";
const char kFreeformNamespace[17] = "com.apple.iTunes";

template <class Item, class Data>
static IBox* ItemWithData() {
  Item* item = new (std::nothrow) Item();
  Data* data = new (std::nothrow) Data();
  if (!item || !data) {
    delete item;
    delete data;
    return nullptr;
  }
  item->AddChild(data);
  return item;
}

static IBox* FreeformItem(const char* key) {
  FreeformItemBox* item = NEW(FreeformItemBox);
  MeanBox* mean = new (std::nothrow) MeanBox(kFreeformNamespace);
  NameBox* name = new (std::nothrow) NameBox(key);
  DataBox1* data = NEW(DataBox1);
  if (!item || !mean || !name || !data) {
    delete item;
    delete mean;
    delete name;
    delete data;
    return nullptr;
  }
  item->AddChild(mean);
  item->AddChild(name);
  item->AddChild(data);
  return item;
}

void ITunesItemTable::Fill() {
  Add(Id("IART"), ItemWithData<ARTItemBox, DataBox1>());
  Add(Id("IAAT"), ItemWithData<AARTItemBox, DataBox1>());
  Add(Id("ICMT"), ItemWithData<CmtItemBox, DataBox1>());
  Add(Id("ICRD"), ItemWithData<DayItemBox, DataBox1>());
  Add(Id("INAM"), ItemWithData<NamItemBox, DataBox1>());
  Add(Id("ISRC"), ItemWithData<AlbItemBox, DataBox1>());
  Add(Id("ISFT"), ItemWithData<TooItemBox, DataBox1>());
  Add(Id("IGNR"), ItemWithData<GenItemBox, DataBox1>());
  Add(Id("ICOP"), ItemWithData<CpyItemBox, DataBox1>());
  Add(Id("ISBJ"), ItemWithData<DesItemBox, DataBox1>());
  Add(Id("IKEY"), ItemWithData<KeywItemBox, DataBox1>());
  Add(Id("TRCK"), ItemWithData<TrknItemBox, DataBox0>());
  Add(Id(kFreeformKeyA), FreeformItem(kFreeformKeyA));
  Add(Id(kFreeformKeyB), FreeformItem(kFreeformKeyB));
}

bool MimeLess::operator()(const std::wstring& a, const std::wstring& b) const {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    wint_t x = std::towupper(wint_t(a[i])), y = std::towupper(wint_t(b[i]));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

MimeDataBoxTable::~MimeDataBoxTable() {
  for (auto& e : map_) delete e.second;
}

void MimeDataBoxTable::Fill() {
  struct Row {
    const wchar_t* mime;
    IBox* box;
  } rows[] = {{L"image/jpg", NEW(DataBox13)},
              {L"image/jpeg", NEW(DataBox13)},
              {L"image/png", NEW(DataBox14)},
              {L"image/bmp", NEW(DataBox27)}};
  for (Row& r : rows) {
    if (!r.box) continue;
    if (!map_.emplace(r.mime, r.box).second) delete r.box;
  }
}

IDataBox* MimeDataBoxTable::CreateBox(const std::wstring& mimeType) const {
  auto it = map_.find(mimeType);
  return it == map_.end() ? nullptr : BoxCloner::CloneDataBox(*it->second);
}

// ---------------------------------------------------------------------------
// Process-wide instances

static ReadMetaFactory* g_readMeta = nullptr;
static MetaFactory* g_meta = nullptr;
static BoxFactory* g_box = nullptr;
static GuidBoxFactory* g_guid = nullptr;
static DataBoxFactory* g_data = nullptr;
static AssetBoxTable* g_assets = nullptr;
static ITunesItemTable* g_items = nullptr;
static MimeDataBoxTable* g_mime = nullptr;
static ITunesReadFactory* g_itunes = nullptr;
static bool g_ready = false;

template <class T>
static T* Make() {
  T* f = new (std::nothrow) T();
  if (f) f->RegisterBoxes();
  return f;
}

template <class T>
static T* MakeTable() {
  T* t = new (std::nothrow) T();
  if (t) t->Fill();
  return t;
}

void CreateGlobalFactories() {
  if (g_ready) return;
  g_readMeta = Make<ReadMetaFactory>();
  g_meta = Make<MetaFactory>();
  g_box = Make<BoxFactory>();
  g_guid = Make<GuidBoxFactory>();
  g_data = Make<DataBoxFactory>();
  g_assets = MakeTable<AssetBoxTable>();
  g_items = MakeTable<ITunesItemTable>();
  g_mime = MakeTable<MimeDataBoxTable>();
  g_itunes = Make<ITunesReadFactory>();
  g_ready = g_readMeta && g_meta && g_box && g_guid && g_data && g_assets && g_items && g_mime && g_itunes;
}

void DestroyGlobalFactories() {
  g_ready = false;
  delete g_mime;
  g_mime = nullptr;
  delete g_items;
  g_items = nullptr;
  delete g_assets;
  g_assets = nullptr;
  delete g_data;
  g_data = nullptr;
  delete g_guid;
  g_guid = nullptr;
  delete g_box;
  g_box = nullptr;
  delete g_meta;
  g_meta = nullptr;
  delete g_readMeta;
  g_readMeta = nullptr;
  delete g_itunes;
  g_itunes = nullptr;
}

bool GlobalFactoriesReady() { return g_ready; }
BoxFactory* GetBoxFactory() { return g_box; }
ReadMetaFactory* GetReadMetaFactory() { return g_readMeta; }
MetaFactory* GetMetaFactory() { return g_meta; }
ITunesReadFactory* GetITunesReadFactory() { return g_itunes; }
GuidBoxFactory* GetGuidBoxFactory() { return g_guid; }
DataBoxFactory* GetDataBoxFactory() { return g_data; }
const AssetBoxTable* GetAssetBoxTable() { return g_assets; }
const ITunesItemTable* GetITunesItemTable() { return g_items; }
const MimeDataBoxTable* GetMimeDataBoxTable() { return g_mime; }

}  // namespace fileutil
