<Groups Mute='False'
        Volume='0'>
  <Group LongNam href="1"A'
         ShortName='MAIN'
         Volume_A='-12'
         Volume_B='-12'
         Sensitivity_A='0'
         Sensitivity_B='0'
         Limiter_A='140'
         Limiter_B='140'
         Volume_Lock='True'
         Sensitivity_Lock='True'
         Limiter_Lock='True'
         Mute='False'>
    <Devices>
      <Device LongName='Main left'
              ShortName='MNL01'
              IPAddress=Ð#Ã3¸´00.1'
         <root>&#10;    &#10;    <once><e></e></once>&#00;&#10;    <twice><e></e><e></e></twice>&#10;&#1     Mute_CHA='False'
              Mute_CHB='False'>
      </Device>
      <Device LongName='Main right'
              ShortName='MNR01'
              IPAddress='12ÿÿÿ&#10;    <once-or-twice-a><e></e></once-or-twice-a>&#10;    <once-or~twice-b><e></e></o0.200.2'
      nce-or-twice-b>&#10;    <once-o   r    -