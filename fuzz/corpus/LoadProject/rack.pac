<Groups Mute='False'
        Volume='0'>
  <Group LongName='Main PA'
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
              IPAddress='127.0.200.1'
              Mute_CHA='False'
              Mute_CHB='False'>
      </Device>
      <Device LongName='Main right'
              ShortName='MNR01'
              IPAddress='127.0.200.2'
              Mute_CHA='False'
              Mute_CHB='False'>
      </Device>
    </Devices>
  </Group>
  <Group LongName='Side fills'
         ShortName='SIDE'
         Volume_A='-18'
         Volume_B='-20'
         Sensitivity_A='-3'
         Sensitivity_B='-3'
         Limiter_A='90'
         Limiter_B='90'
         Volume_Lock='False'
         Sensitivity_Lock='True'
         Limiter_Lock='False'
         Mute='False'>
    <Devices>
      <Device LongName='Side left'
              ShortName='SDL01'
              IPAddress='127.0.200.3'
              Mute_CHA='False'
              Mute_CHB='False'>
      </Device>
      <Device LongName='Side right'
              ShortName='SDR01'
              IPAddress='127.0.200.4'
              Mute_CHA='False'
              Mute_CHB='True'>
      </Device>
    </Devices>
  </Group>
</Groups>
<Application>
  <Form Left='190'
        Top='105'
        Width='1475'
        Height='901'>
  </Form>
</Application>
